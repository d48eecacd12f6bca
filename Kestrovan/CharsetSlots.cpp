// Designation into the four slots and invocation of one of them.
#include "Kestrovan/CharsetSlots.h"

namespace kestrovan {

void CharsetSlots::invoke(uint8_t level)
{
    gLevel_ = level;
    charset_ = level < gCharsets_.size() ? gCharsets_[level] : nullptr;
}

void CharsetSlots::designate(uint8_t slot, const CharacterMap* set)
{
    if (slot >= gCharsets_.size())
        return;
    gCharsets_[slot] = set;
    if (slot == gLevel_)
        charset_ = set;
}

void CharsetSlots::resetInvocation()
{
    charset_ = nullptr;
    gLevel_ = 0;
}

void CharsetSlots::reset()
{
    gCharsets_.fill(nullptr);
    charset_ = nullptr;
    gcharset_ = 0;
    gLevel_ = 0;
}

} // namespace kestrovan
