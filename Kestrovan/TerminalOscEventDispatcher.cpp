#include "Kestrovan/TerminalOscEventDispatcher.h"

#include "Platform/Dispatch/TimerQueue.h"
#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <string>

namespace kestrovan {

struct TerminalOscObservation::Shared
{
    struct Registration
    {
        uint64_t id = 0;
        std::shared_ptr<const TerminalOscEventDispatcher::Handler> handler;
    };
    struct Registry
    {
        uint64_t nextID = 0;
        std::vector<Registration> registrations;
    };

    Locked<Registry> registry;
    // Guards the lazy creation of the queue; publish is the only writer and runs under the
    // terminal lock, but the dispatcher may be destroyed on another thread.
    platform::Mutex queueMutex;
    std::unique_ptr<platform::TimerQueue> deliveryQueue GUARDED_BY(queueMutex);
};

void TerminalOscObservation::cancel()
{
    const std::shared_ptr<Shared> dispatcher = dispatcher_.lock();
    dispatcher_.reset();
    if (!dispatcher)
        return;
    dispatcher->registry.withLock([id = id_](Shared::Registry& registry) {
        std::erase_if(registry.registrations,
                      [id](const Shared::Registration& entry) { return entry.id == id; });
    });
}

TerminalOscEventDispatcher::TerminalOscEventDispatcher() : shared_(std::make_shared<Shared>()) {}

TerminalOscEventDispatcher::~TerminalOscEventDispatcher()
{
    // Stops the delivery thread; events still queued are dropped with it.
    std::unique_ptr<platform::TimerQueue> queue;
    {
        platform::MutexLock guard(shared_->queueMutex);
        queue = std::move(shared_->deliveryQueue);
    }
}

std::unique_ptr<TerminalOscObservation> TerminalOscEventDispatcher::observe(Handler handler)
{
    auto boxed = std::make_shared<const Handler>(std::move(handler));
    const uint64_t id = shared_->registry.withLock([&](Shared::Registry& registry) {
        const uint64_t next = registry.nextID++;
        registry.registrations.push_back({next, std::move(boxed)});
        return next;
    });
    return std::unique_ptr<TerminalOscObservation>(new TerminalOscObservation(shared_, id));
}

void TerminalOscEventDispatcher::publish(int code, std::span<const uint8_t> payload, Position cursor)
{
    std::vector<std::shared_ptr<const Handler>> handlers =
        shared_->registry.withLock([](Shared::Registry& registry) {
            std::vector<std::shared_ptr<const Handler>> snapshot;
            snapshot.reserve(registry.registrations.size());
            for (const Shared::Registration& entry : registry.registrations)
                snapshot.push_back(entry.handler);
            return snapshot;
        });
    if (handlers.empty())
        return;

    auto event = std::make_shared<const TerminalOscEvent>(
        TerminalOscEvent{code, std::vector<uint8_t>(payload.begin(), payload.end()), cursor});
    platform::MutexLock guard(shared_->queueMutex);
    if (!shared_->deliveryQueue)
        shared_->deliveryQueue = std::make_unique<platform::TimerQueue>(std::string(deliveryQueueLabel));
    // The closure owns copies of the handlers and the event and nothing of the terminal.
    shared_->deliveryQueue->async([handlers = std::move(handlers), event = std::move(event)] {
        for (const std::shared_ptr<const Handler>& handler : handlers)
            (*handler)(*event);
    });
}

} // namespace kestrovan
