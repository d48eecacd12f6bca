// The character-set slots on their own: which set is in effect after designations, invocations,
// a cursor restore and the two resets. The control functions around them are tested in
// CharSetSwitchingTests.
#include "Kestrovan/CharsetSlots.h"

#include <gtest/gtest.h>

namespace kestrovan {
namespace {

TEST(CharsetSlotsTests, TheSetInEffectFollowsTheInvokedSlotUntilRestoredOrReset)
{
    const CharacterMap* graphics = CharSets::find('0');
    const CharacterMap* british = CharSets::find('A');
    ASSERT_TRUE(graphics && british);

    CharsetSlots slots;
    EXPECT_EQ(slots.charset(), nullptr) << "power-on: nothing translated";
    slots.designate(1, graphics);
    EXPECT_EQ(slots.charset(), nullptr) << "designating another slot changes nothing in effect";
    slots.invoke(1);
    EXPECT_EQ(slots.charset(), graphics);
    slots.designate(1, british);
    EXPECT_EQ(slots.charset(), british) << "designating into the invoked slot takes effect at once";
    slots.designate(4, graphics);
    EXPECT_EQ(slots.gCharsets(), (std::array<const CharacterMap*, 4>{nullptr, british, nullptr, nullptr}))
        << "there is no G4";
    slots.invoke(9);
    EXPECT_EQ(slots.gLevel(), 9);
    EXPECT_EQ(slots.charset(), nullptr) << "a level past G3 invokes nothing";

    // DECRC: the saved set comes back on its own, whatever the slots say.
    slots.restoreInEffect(graphics);
    EXPECT_EQ(slots.charset(), graphics);
    EXPECT_EQ(slots.gLevel(), 9);

    // DECSTR: untranslated from G0, but the designations wait for a later shift.
    slots.resetInvocation();
    EXPECT_EQ(slots.charset(), nullptr);
    EXPECT_EQ(slots.gLevel(), 0);
    slots.invoke(1);
    EXPECT_EQ(slots.charset(), british);

    slots.reset();
    EXPECT_EQ(slots.gCharsets(), (std::array<const CharacterMap*, 4>{}));
    EXPECT_EQ(slots.charset(), nullptr);
    EXPECT_EQ(slots.gLevel(), 0);
    EXPECT_EQ(slots.gcharset(), 0);
}

} // namespace
} // namespace kestrovan
