// The mode table and the copies of its mirrored modes in the two screen buffers.
#include "Kestrovan/TerminalModeSet.h"

namespace kestrovan {

TerminalModeSet::TerminalModeSet()
{
    // SRM starts set: the terminal does not echo what the user types.
    values_[static_cast<size_t>(TerminalMode::sendReceiveMode)] = true;
}

BufferModeMirror TerminalModeSet::bufferModeMirror() const
{
    BufferModeMirror mirror;
    mirror.insertMode = (*this)[TerminalMode::insertMode];
    mirror.characterProtection = (*this)[TerminalMode::characterProtection];
    mirror.marginMode = (*this)[TerminalMode::marginMode];
    mirror.wraparound = (*this)[TerminalMode::wraparound];
    return mirror;
}

void TerminalModeSet::setBidiState(const BidiPresentationState& state)
{
    bidiState_ = state;
    for (Buffer* buffer : buffers_) {
        if (buffer)
            buffer->setDefaultBidiState(state);
    }
}

void TerminalModeSet::attachBuffers(Buffer& normal, Buffer& alternate)
{
    buffers_ = {&normal, &alternate};
    mirrorModesIntoBuffers();
    setBidiState(bidiState_);
}

void TerminalModeSet::mirrorModesIntoBuffers()
{
    const BufferModeMirror mirror = bufferModeMirror();
    for (Buffer* buffer : buffers_) {
        if (buffer)
            buffer->setModeMirror(mirror);
    }
}

} // namespace kestrovan
