// The two stores that spare the user repeated clipboard prompts, and the paste-token generator.
//
// `KittyClipboardGrants` remembers that the user allowed a password for a direction and location
// ("remember" in the prompt). A paste token is a one-time password the terminal itself puts into a
// paste event; a program may present it once to read the pasted contents without a prompt. Both
// stores keep at most 32 entries and drop the oldest first, so a program cannot grow them: grants
// are only added by the user, tokens only by pastes.
#pragma once

#include "Kestrovan/KittyClipboardTypes.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace kestrovan {

class KittyClipboardGrants
{
public:
    struct Key
    {
        std::vector<uint8_t> password;
        KittyClipboardPermissionDirection direction = KittyClipboardPermissionDirection::read;
        KittyClipboardLocation location = KittyClipboardLocation::standard;

        friend bool operator==(const Key&, const Key&) = default;
    };
    struct KeyHash
    {
        size_t operator()(const Key& key) const;
    };

    static constexpr size_t maximumCount = 32;

    /// Remembers a password for a direction and location. An empty password adds nothing; a key
    /// already remembered keeps its age; a new key past the maximum evicts the oldest.
    void add(std::string_view password, KittyClipboardPermissionDirection direction,
             KittyClipboardLocation location);
    /// True when a request with this password and name is covered: both must be non-empty (the
    /// name is required but not part of the key).
    bool covers(std::string_view password, std::string_view name, KittyClipboardPermissionDirection direction,
                KittyClipboardLocation location) const;
    void clear();
    size_t size() const { return order.size(); }

private:
    /// Oldest first.
    std::deque<Key> order;
    std::unordered_set<Key, KeyHash> entries;
};

/// A live paste token and the clipboard snapshot it unlocks.
struct KittyClipboardPasteToken
{
    std::vector<uint8_t> token;
    KittyClipboardLocation location = KittyClipboardLocation::standard;
    TerminalClipboardSnapshot snapshot;
    /// Nanoseconds on the terminal's clipboard clock after which the token is dead.
    uint64_t deadline = 0;
};

/// Random paste tokens: 22 characters from an alphabet without look-alikes.
struct KittyClipboardTokenGenerator
{
    /// Digits 2 to 9, lower-case letters without "l", upper-case letters without "I" and "O".
    static constexpr std::string_view alphabet = "23456789abcdefghijkmnopqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ";
    static constexpr size_t tokenLength = 22;

    /// A fresh token from the kernel's random source (getrandom); absent when it fails.
    static std::optional<std::string> generate();
    /// A token from `fill`, which fills a batch of random bytes and returns false when it cannot.
    static std::optional<std::string> generate(const std::function<bool(std::span<uint8_t>)>& fill);
};

} // namespace kestrovan
