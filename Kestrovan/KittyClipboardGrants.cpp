// The remembered grants, and paste tokens drawn from the kernel's random source.
#include "Kestrovan/KittyClipboardGrants.h"

#include <array>
#include <cerrno>
#include <sys/random.h>

namespace kestrovan {

namespace {

KittyClipboardGrants::Key makeKey(std::string_view password, KittyClipboardPermissionDirection direction,
                                  KittyClipboardLocation location)
{
    return {std::vector<uint8_t>(password.begin(), password.end()), direction, location};
}

// Fills `bytes` from the kernel's random source; false when it fails. Batches are at most 256
// bytes, which getrandom delivers whole once its pool is ready; a signal is simply retried.
bool fillFromKernel(std::span<uint8_t> bytes)
{
    size_t filled = 0;
    while (filled < bytes.size()) {
        const ssize_t got = getrandom(bytes.data() + filled, bytes.size() - filled, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        filled += static_cast<size_t>(got);
    }
    return true;
}

} // namespace

size_t KittyClipboardGrants::KeyHash::operator()(const Key& key) const
{
    // FNV-1a over the byte count, the bytes, the direction and the location.
    uint64_t hash = 0xcbf29ce484222325ull;
    auto mix = [&](uint64_t value) {
        hash ^= value;
        hash *= 0x100000001b3ull;
    };
    mix(key.password.size());
    for (const uint8_t byte : key.password)
        mix(byte);
    mix(static_cast<uint64_t>(key.direction));
    mix(static_cast<uint64_t>(key.location));
    return static_cast<size_t>(hash);
}

void KittyClipboardGrants::add(std::string_view password, KittyClipboardPermissionDirection direction,
                               KittyClipboardLocation location)
{
    if (password.empty())
        return;
    // Remembering a key again does not make it younger: the user's first answer sets its age.
    Key key = makeKey(password, direction, location);
    if (entries.count(key))
        return;
    if (order.size() >= maximumCount) {
        entries.erase(order.front());
        order.pop_front();
    }
    entries.insert(key);
    order.push_back(std::move(key));
}

bool KittyClipboardGrants::covers(std::string_view password, std::string_view name,
                                  KittyClipboardPermissionDirection direction,
                                  KittyClipboardLocation location) const
{
    // The name is part of what the user saw when they said "remember", so a request without one
    // is never covered; the grant itself is for the password alone.
    if (password.empty() || name.empty())
        return false;
    return entries.count(makeKey(password, direction, location)) != 0;
}

void KittyClipboardGrants::clear()
{
    order.clear();
    entries.clear();
}

std::optional<std::string> KittyClipboardTokenGenerator::generate()
{
    return generate(fillFromKernel);
}

std::optional<std::string>
KittyClipboardTokenGenerator::generate(const std::function<bool(std::span<uint8_t>)>& fill)
{
    constexpr size_t n = alphabet.size();
    static_assert(n >= 1 && n <= 255);
    // Bytes at or above the largest multiple of n would favour the first characters of the
    // alphabet; they are skipped. For 57 characters that keeps bytes below 228.
    constexpr unsigned acceptBelow = static_cast<unsigned>(n * (255 / n));

    // A working source needs one or two batches; one that keeps giving rejected bytes is broken,
    // and is given up on rather than spun on forever.
    constexpr int maximumBatches = 64;

    std::string token;
    std::array<uint8_t, 32> batch;
    for (int batches = 0; token.size() < tokenLength; ++batches) {
        if (batches == maximumBatches || !fill(batch))
            return std::nullopt;
        for (const uint8_t byte : batch) {
            if (byte >= acceptBelow)
                continue;
            token.push_back(alphabet[byte % n]);
            if (token.size() == tokenLength)
                break;
        }
    }
    return token;
}

} // namespace kestrovan
