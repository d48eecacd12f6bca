#include "Kestrovan/SixelDcsHandler.h"

namespace kestrovan {

SixelDcsHandler::SixelDcsHandler(std::weak_ptr<Terminal> terminal, Limits limits)
    : terminal_(std::move(terminal)), limits_(limits)
{}

void SixelDcsHandler::hook(std::span<const uint8_t>, const CsiParameters&, uint8_t)
{
    inputBytes_ = 0;
    overflowed_ = false;
}

void SixelDcsHandler::put(std::span<const uint8_t> data)
{
    if (overflowed_)
        return;
    const size_t room = limits_.maximumInputBytes - inputBytes_;
    if (data.size() > room) {
        inputBytes_ = limits_.maximumInputBytes;
        overflowed_ = true;
        return;
    }
    inputBytes_ += data.size();
}

// The image would be decoded and placed here; with no decoder the payload is dropped.
void SixelDcsHandler::unhook() {}

} // namespace kestrovan
