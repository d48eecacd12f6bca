// The rendering choice and its listeners.
#include "VeskCore/RenderingPreferences.h"

#include "Platform/Settings/Settings.h"

#include <utility>
#include <vector>

namespace vesk {

RenderingPreferences::Subscription::Subscription(Subscription&& other) noexcept
    : listeners_(std::move(other.listeners_)), id_(std::exchange(other.id_, 0))
{}

RenderingPreferences::Subscription&
RenderingPreferences::Subscription::operator=(Subscription&& other) noexcept
{
    if (this != &other) {
        cancel();
        listeners_ = std::move(other.listeners_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

RenderingPreferences::Subscription::~Subscription()
{
    cancel();
}

void RenderingPreferences::Subscription::cancel()
{
    // The preferences may be gone first; then there is nothing to unregister from.
    if (const auto listeners = listeners_.lock())
        listeners->erase(id_);
    listeners_.reset();
    id_ = 0;
}

RenderingPreferences& RenderingPreferences::shared()
{
    static RenderingPreferences preferences(platform::Settings::shared());
    return preferences;
}

RenderingPreferences::RenderingPreferences(platform::Settings& settings, std::string key)
    : settings_(settings), key_(std::move(key)),
      listeners_(std::make_shared<std::map<uint64_t, std::function<void()>>>())
{}

RenderingPreferences::~RenderingPreferences() = default;

bool RenderingPreferences::metalEnabled() const
{
    return settings_.boolean(group, key_).value_or(true);
}

void RenderingPreferences::setMetalEnabled(bool enabled)
{
    settings_.setBoolean(group, key_, enabled);
    // The ids of this round are taken first: a listener may register or cancel others (a pane
    // closing its neighbour), and only those still registered when their turn comes are called.
    std::vector<uint64_t> ids;
    ids.reserve(listeners_->size());
    for (const auto& entry : *listeners_)
        ids.push_back(entry.first);
    for (uint64_t id : ids) {
        const auto found = listeners_->find(id);
        if (found == listeners_->end())
            continue;
        // A copy, so that a listener cancelling itself does not destroy the function it runs in.
        const std::function<void()> listener = found->second;
        listener();
    }
}

RenderingPreferences::Subscription RenderingPreferences::observe(std::function<void()> listener)
{
    const uint64_t id = nextListenerId_++;
    listeners_->emplace(id, std::move(listener));
    return Subscription(listeners_, id);
}

} // namespace vesk
