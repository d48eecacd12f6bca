// The four character-set slots G0-G3 and the set in effect for printing (ISO 2022 designation and
// invocation, as ESC ( and its relatives, SI, SO, LS2 and LS3 drive them).
//
// The set in effect is normally the invoked slot's, but not always: DECRC brings back the set that
// was in effect when the cursor was saved without touching the slots, and DECSTR makes GL print
// untranslated while keeping the designations for a later shift. So the set in effect is kept as
// its own pointer, which is also what the print path reads once per run. The maps themselves are
// static tables owned by CharSets.cpp; a null map means no translation.
#pragma once

#include "Kestrovan/CharSets.h"

#include <array>
#include <cstdint>

namespace kestrovan {

class CharsetSlots
{
public:
    /// The set printable ASCII is translated through; null prints bytes unchanged.
    const CharacterMap* charset() const { return charset_; }
    /// The sets designated into G0-G3; null is no translation.
    const std::array<const CharacterMap*, 4>& gCharsets() const { return gCharsets_; }
    /// The slot number kept for save and restore; only a reset changes it.
    int gcharset() const { return gcharset_; }
    /// The invoked slot; past 3 no set is in effect.
    uint8_t gLevel() const { return gLevel_; }

    /// Invokes slot `level` (SI, SO, LS2, LS3 and the locking shifts): its set goes in effect,
    /// none for a level past G3.
    void invoke(uint8_t level);
    /// Designates `set` into slot `slot`; a slot past G3 is ignored. Designating into the invoked
    /// slot changes what prints from now on.
    void designate(uint8_t slot, const CharacterMap* set);
    /// DECRC: the saved set goes in effect; the invoked slot and the designations stay.
    void restoreInEffect(const CharacterMap* saved) { charset_ = saved; }
    /// DECSTR: GL prints untranslated from G0 again; the designations stay.
    void resetInvocation();
    /// The power-on state: every slot empty and G0 invoked.
    void reset();

private:
    const CharacterMap* charset_ = nullptr;
    std::array<const CharacterMap*, 4> gCharsets_{};
    int gcharset_ = 0;
    uint8_t gLevel_ = 0;
};

} // namespace kestrovan
