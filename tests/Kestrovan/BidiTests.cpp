#include "Kestrovan/BidiPresentationState.h"

#include <gtest/gtest.h>
#include <unordered_set>

using kestrovan::BidiDirection;
using kestrovan::BidiPresentationMode;
using kestrovan::BidiPresentationState;
using kestrovan::BidiSupportMode;

TEST(BidiPresentationState, PresentationModeFollowsTheTable)
{
    EXPECT_EQ(BidiPresentationState::defaultState.presentationMode(),
              BidiPresentationMode::implicitAutoLeftToRight);
    EXPECT_EQ(BidiPresentationState(), BidiPresentationState::defaultState);

    const auto mode = [](BidiSupportMode support, bool autodetect, BidiDirection direction) {
        return BidiPresentationState(support, autodetect, direction, false).presentationMode();
    };
    const auto ltr = BidiDirection::leftToRight;
    const auto rtl = BidiDirection::rightToLeft;
    for (bool autodetect : {false, true}) {
        EXPECT_EQ(mode(BidiSupportMode::explicit_, autodetect, ltr),
                  BidiPresentationMode::explicitLeftToRight)
            << "autodetect does not matter in explicit mode";
        EXPECT_EQ(mode(BidiSupportMode::explicit_, autodetect, rtl),
                  BidiPresentationMode::explicitRightToLeft);
    }
    EXPECT_EQ(mode(BidiSupportMode::implicit, true, rtl), BidiPresentationMode::implicitAutoRightToLeft);
    EXPECT_EQ(mode(BidiSupportMode::implicit, false, ltr), BidiPresentationMode::implicitLeftToRight);
    EXPECT_EQ(mode(BidiSupportMode::implicit, false, rtl), BidiPresentationMode::implicitRightToLeft);
}

TEST(BidiPresentationState, BoxMirroringTellsStatesApartButNotModes)
{
    BidiPresentationState mirrored;
    mirrored.boxMirroring = true;
    EXPECT_NE(mirrored, BidiPresentationState());
    EXPECT_EQ(mirrored.presentationMode(), BidiPresentationState().presentationMode());

    std::unordered_set<BidiPresentationState> states = {BidiPresentationState(), mirrored,
                                                        BidiPresentationState()};
    EXPECT_EQ(states.size(), 2u);
}
