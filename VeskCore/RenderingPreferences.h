// The user's choice whether terminal views may draw on the GPU, kept in the settings file, and
// the news of a change to everyone who listens.
//
// The choice is one boolean, key `gpu` in group `Rendering`; absent or not a boolean means on.
// Each pane listens and re-applies its rendering when the choice changes; which panes actually
// draw on the GPU (a hidden tab, a window without focus) is decided above this, per window.
// Main thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace platform {
class Settings;
}

namespace vesk {

class RenderingPreferences
{
public:
    /// The group and the key of the choice in the settings file.
    static constexpr const char* group = "Rendering";
    static constexpr const char* defaultKey = "gpu";

    /// Unregisters its listener when destroyed; keep it as long as the listener should be called.
    class Subscription
    {
    public:
        Subscription() = default;
        Subscription(Subscription&& other) noexcept;
        Subscription& operator=(Subscription&& other) noexcept;
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        ~Subscription();

        /// Unregisters now; later changes are not reported.
        void cancel();

    private:
        friend class RenderingPreferences;
        Subscription(std::weak_ptr<std::map<uint64_t, std::function<void()>>> listeners, uint64_t id)
            : listeners_(std::move(listeners)), id_(id)
        {}

        std::weak_ptr<std::map<uint64_t, std::function<void()>>> listeners_;
        uint64_t id_ = 0;
    };

    /// The process-wide preferences, on `platform::Settings::shared()` and the key `gpu`.
    static RenderingPreferences& shared();

    /// Preferences stored in `settings` (which must outlive them) under `key` in `group`.
    explicit RenderingPreferences(platform::Settings& settings, std::string key = defaultKey);
    ~RenderingPreferences();

    /// The stored choice when it is a boolean; true otherwise. Read from the store on every call.
    bool metalEnabled() const;

    /// Stores `enabled` (a failed write is logged by the store and the choice still holds for the
    /// session), then calls every listener, in the order they registered. Listeners are called even
    /// when the value did not change, as a menu toggle expects.
    void setMetalEnabled(bool enabled);

    /// Registers `listener` to be called after every change until the subscription ends. A
    /// listener registered or cancelled during a notification takes effect from the next one.
    [[nodiscard]] Subscription observe(std::function<void()> listener);

    /// The key the choice is stored under.
    const std::string& key() const { return key_; }

private:
    platform::Settings& settings_;
    std::string key_;
    std::shared_ptr<std::map<uint64_t, std::function<void()>>> listeners_;
    uint64_t nextListenerId_ = 1;
};

} // namespace vesk
