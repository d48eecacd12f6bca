// Paste tokens: one-time passwords that a paste event hands to the program, good for one read of
// the pasted clipboard without a prompt, for at most 30 seconds on the terminal's clipboard clock.
// At most 32 live at once; expired ones are dropped whenever a token is stored or redeemed.
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/Terminal.h"

#include <cmath>

namespace kestrovan {

namespace {

/// The token's lifetime in nanoseconds: the snapshot's own when it is shorter, never above 30 s.
uint64_t tokenLifetime(const std::optional<double>& expiresAfter)
{
    constexpr uint64_t maximum = KittyClipboardProtocol::maximumTokenLifetimeNanoseconds;
    if (!expiresAfter || std::isnan(*expiresAfter))
        return maximum;
    if (*expiresAfter <= 0)
        return 0;
    const double seconds = std::min(*expiresAfter, 30.0);
    return std::min(static_cast<uint64_t>(seconds * 1e9), maximum);
}

/// Compares in a time that does not depend on where the first difference lies, so that a program
/// cannot guess a token byte by byte from how long its reads take to fail.
bool equalBytes(const std::vector<uint8_t>& token, std::span<const uint8_t> password)
{
    const size_t shorter = std::min(token.size(), password.size());
    uint8_t difference = token.size() != password.size() ? 1 : 0;
    for (size_t i = 0; i < shorter; ++i)
        difference |= static_cast<uint8_t>(token[i] ^ password[i]);
    return difference == 0;
}

} // namespace

void KittyClipboardProtocol::storeToken(const std::string& token, KittyClipboardLocation location,
                                        TerminalClipboardSnapshot snapshot)
{
    const std::shared_ptr<Terminal> terminal = lockTerminal();
    if (!terminal)
        return;
    // The terminal calls its clipboard protocol under its lock.
    terminal->terminalLock().assumeHeldByCaller();
    const std::optional<uint64_t> clock = terminal->kittyClipboardNow();
    if (!clock)
        return;
    const uint64_t now = *clock;
    std::erase_if(tokens, [now](const KittyClipboardPasteToken& live) { return live.deadline <= now; });
    if (tokens.size() >= maximumTokenCount)
        tokens.pop_front();
    // A clock near its end must not wrap the deadline into the past.
    const uint64_t lifetime = tokenLifetime(snapshot.expiresAfter);
    uint64_t deadline;
    if (__builtin_add_overflow(now, lifetime, &deadline))
        deadline = UINT64_MAX;
    tokens.push_back(
        {std::vector<uint8_t>(token.begin(), token.end()), location, std::move(snapshot), deadline});
}

std::optional<TerminalClipboardSnapshot>
KittyClipboardProtocol::consumeToken(const std::string& password, const std::string& name,
                                     KittyClipboardPermissionDirection direction,
                                     KittyClipboardLocation location)
{
    const std::shared_ptr<Terminal> terminal = lockTerminal();
    if (!terminal)
        return std::nullopt;
    // The terminal calls its clipboard protocol under its lock.
    terminal->terminalLock().assumeHeldByCaller();
    if (direction != KittyClipboardPermissionDirection::read || password.empty() || name.empty())
        return std::nullopt;
    const uint64_t now = terminal->kittyClipboardNow().value_or(UINT64_MAX);
    std::erase_if(tokens, [now](const KittyClipboardPasteToken& live) { return live.deadline <= now; });

    // Every token is compared, without stopping at a match.
    const std::span<const uint8_t> presented(reinterpret_cast<const uint8_t*>(password.data()),
                                             password.size());
    std::optional<size_t> match;
    for (size_t i = 0; i < tokens.size(); ++i) {
        const bool equal = equalBytes(tokens[i].token, presented);
        if (equal && tokens[i].location == location && !match)
            match = i;
    }
    if (!match)
        return std::nullopt;
    TerminalClipboardSnapshot snapshot = std::move(tokens[*match].snapshot);
    tokens.erase(tokens.begin() + static_cast<ptrdiff_t>(*match));
    return snapshot;
}

} // namespace kestrovan
