// The kitty keyboard protocol's state: CSI > flags u (push), CSI < n u (pop), CSI = flags ; mode u
// (set) and CSI ? u (query), kept separately for the normal and the alternate screen.
//
// Each screen has its current flags and a stack of earlier ones, so a full-screen program on the
// alternate screen can push and pop without disturbing the shell's settings on the normal screen.
// The key encoder reads the active screen's flags (`keyboardEnhancementFlags`).
#include "Kestrovan/Terminal.h"

#include <algorithm>
#include <string>

namespace kestrovan {

namespace {

/// Bounds the stack a program can build with pushes alone; the oldest entries go first.
constexpr size_t maximumStackDepth = 16;

KittyKeyboardFlags maskedFlags(int64_t value)
{
    return KittyKeyboardFlags(static_cast<uint32_t>(value) & KittyKeyboardFlags::knownMask);
}

} // namespace

bool Terminal::handleKittyKeyboardProtocol(const CsiParameters& pars, Collect collect)
{
    // Only a single private marker makes the sequence the protocol's; without one, CSI u is
    // restore-cursor, and anything else is not ours either.
    if (collect.size() != 1)
        return false;
    KeyboardModeState& state = isCurrentBufferAlternate() ? keyboardModeAlt_ : keyboardModeNormal_;
    const int64_t first = pars.count > 0 ? pars[0] : 0;

    switch (collect[0]) {
    case '>': {
        // Push: the current flags go on the stack and the new ones become current.
        if (state.stack.size() >= maximumStackDepth)
            state.stack.erase(state.stack.begin());
        state.stack.push_back(state.flags);
        state.flags = maskedFlags(first);
        return true;
    }
    case '<': {
        // Pop n entries; popping more than there are resets to no enhancements at all.
        const size_t n = static_cast<size_t>(std::max<int64_t>(first, 1));
        if (state.stack.size() < n) {
            state.flags = KittyKeyboardFlags();
            state.stack.clear();
        } else {
            state.flags = state.stack[state.stack.size() - n];
            state.stack.resize(state.stack.size() - n);
        }
        return true;
    }
    case '=': {
        // Set: 1 replaces, 2 adds the bits, 3 removes them; the stack is left alone.
        const KittyKeyboardFlags flags = maskedFlags(first);
        const int64_t mode = pars.count >= 2 ? pars[1] : 1;
        if (mode == 1)
            state.flags = flags;
        else if (mode == 2)
            state.flags.insert(flags);
        else if (mode == 3)
            state.flags.remove(flags);
        return true;
    }
    case '?':
        // Query: CSI ? flags u, in the reply form the terminal is set to.
        sendResponse(cc_.CSI(), "?" + std::to_string(state.flags.rawValue) + "u");
        return true;
    default:
        return false;
    }
}

} // namespace kestrovan
