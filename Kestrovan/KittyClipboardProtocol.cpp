// The clipboard protocol object: dispatch of a body to its operation, the availability tests, the
// capability refresh, reset and teardown, and the queue host completions run on.
#include "Kestrovan/KittyClipboardProtocol.h"

#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Platform/Dispatch/SerialQueue.h"

#include <algorithm>
#include <type_traits>

namespace kestrovan {

namespace {

/// The capability that allows `direction` at `location`.
KittyClipboardCapabilities capabilityFor(KittyClipboardPermissionDirection direction,
                                         KittyClipboardLocation location)
{
    const bool read = direction == KittyClipboardPermissionDirection::read;
    if (location == KittyClipboardLocation::primary)
        return read ? KittyClipboardCapabilities::primaryRead : KittyClipboardCapabilities::primaryWrite;
    return read ? KittyClipboardCapabilities::standardRead : KittyClipboardCapabilities::standardWrite;
}

KittyClipboardCapabilities askCapabilities(Terminal& terminal)
{
    const std::shared_ptr<TerminalDelegate> delegate = terminal.delegate();
    return delegate ? delegate->kittyClipboardCapabilities(terminal) : KittyClipboardCapabilities();
}

/// Runs `body` holding the terminal lock. A queue that runs work inline may call in on a thread
/// that already holds it (the lock is not re-entrant), and then the body simply runs.
template <typename F> void withTerminalLock(Terminal& terminal, F&& body)
{
    TerminalLock& lock = terminal.terminalLock();
    if (lock.isHeldByCurrentThread())
        body();
    else
        lock.withLock(std::forward<F>(body));
}

} // namespace

KittyClipboardProtocol::KittyClipboardProtocol(std::weak_ptr<Terminal> terminal,
                                               std::shared_ptr<platform::DispatchQueue> completionQueue)
    : terminal_(std::move(terminal)), completionQueue(std::move(completionQueue))
{
    if (const std::shared_ptr<Terminal> owner = lockTerminal())
        lastCapabilities = askCapabilities(*owner);
}

KittyClipboardProtocol::~KittyClipboardProtocol() = default;

std::shared_ptr<Terminal> KittyClipboardProtocol::lockTerminal() const
{
    return terminal_.withLock([](const std::weak_ptr<Terminal>& weak) { return weak.lock(); });
}

platform::DispatchQueue& KittyClipboardProtocol::queue()
{
    // Made on first need: a terminal that only ever pastes text never starts the thread.
    std::lock_guard guard(queueMutex);
    if (!completionQueue)
        completionQueue = std::make_shared<platform::SerialQueue>(completionQueueLabel);
    return *completionQueue;
}

void KittyClipboardProtocol::send(Terminal& terminal, const std::vector<uint8_t>& packet)
{
    // The protocol runs under its terminal's lock: inside a feed or a paste, or in `runLocked`.
    terminal.terminalLock().assumeHeldByCaller();
    terminal.sendResponse(std::span<const uint8_t>(packet));
}

void KittyClipboardProtocol::runLocked(std::function<void(KittyClipboardProtocol&, Terminal&)> body)
{
    std::weak_ptr<KittyClipboardProtocol> weakSelf = weak_from_this();
    queue().async([weakSelf, body = std::move(body)] {
        const std::shared_ptr<KittyClipboardProtocol> self = weakSelf.lock();
        if (!self)
            return;
        // Declared before the lock is taken, so that if this is the last reference the terminal
        // is destroyed only after its lock has been released.
        const std::shared_ptr<Terminal> terminal = self->lockTerminal();
        if (!terminal)
            return;
        withTerminalLock(*terminal, [&] { body(*self, *terminal); });
    });
}

void KittyClipboardProtocol::advanceSerial()
{
    ++serial;
    committedWrite.reset();
}

// --- Dispatch ------------------------------------------------------------------------------------

void KittyClipboardProtocol::handle(std::span<const uint8_t> body)
{
    const auto semicolon = std::find(body.begin(), body.end(), ';');
    const bool hasPayload = semicolon != body.end();
    const std::span<const uint8_t> metadataBytes = body.first(static_cast<size_t>(semicolon - body.begin()));
    const std::span<const uint8_t> payload =
        hasPayload ? body.subspan(metadataBytes.size() + 1) : std::span<const uint8_t>();

    KittyClipboardMetadata::ParseResult parsed = KittyClipboardMetadata::parse(metadataBytes);
    if (const auto* metadata = std::get_if<KittyClipboardMetadata>(&parsed)) {
        switch (metadata->operation) {
        case KittyClipboardOperation::read:
            handleRead(*metadata, payload, hasPayload);
            return;
        case KittyClipboardOperation::write:
            beginWrite(*metadata, hasPayload);
            return;
        case KittyClipboardOperation::wdata:
            handleWriteData(*metadata, payload, hasPayload);
            return;
        case KittyClipboardOperation::walias:
            handleWriteAlias(*metadata, payload, hasPayload);
            return;
        }
        return;
    }
    if (const auto* invalid = std::get_if<KittyClipboardMetadata::InvalidValue>(&parsed)) {
        switch (invalid->operation) {
        case KittyClipboardOperation::write:
            // A bad write packet still ends whatever write was open, and is refused by its own id.
            transaction.reset();
            advanceSerial();
            if (const std::shared_ptr<Terminal> terminal = lockTerminal())
                send(*terminal,
                     encodePacket(KittyClipboardOperation::write, KittyClipboardStatus::einval, invalid->id));
            return;
        case KittyClipboardOperation::wdata:
        case KittyClipboardOperation::walias:
            abortWrite(KittyClipboardStatus::einval);
            return;
        case KittyClipboardOperation::read:
            // A read with bad values is not answered.
            return;
        }
    }
    // Unrecognisable packets get no reply at all.
}

// --- Availability and capabilities ---------------------------------------------------------------

bool KittyClipboardProtocol::isAvailable(KittyClipboardPermissionDirection direction,
                                         KittyClipboardLocation location)
{
    const std::shared_ptr<Terminal> terminal = lockTerminal();
    if (!terminal)
        return false;
    // The terminal calls its clipboard protocol under its lock.
    terminal->terminalLock().assumeHeldByCaller();
    // The terminal's policy is checked first: a direction it forbids never reaches the host.
    const KittyClipboardPolicy allowed = direction == KittyClipboardPermissionDirection::read
                                             ? KittyClipboardPolicy::read
                                             : KittyClipboardPolicy::write;
    if (!terminal->options().kittyClipboardPolicy.contains(allowed))
        return false;
    refreshCapabilities();
    return lastCapabilities.contains(capabilityFor(direction, location));
}

bool KittyClipboardProtocol::canSendPasteEvent(KittyClipboardLocation location)
{
    const std::shared_ptr<Terminal> terminal = lockTerminal();
    if (!terminal)
        return false;
    // The terminal calls its clipboard protocol under its lock.
    terminal->terminalLock().assumeHeldByCaller();
    if (!terminal->mode(TerminalMode::kittyPasteEventsEnabled))
        return false;
    // A program that receives paste events reads them back, so both directions must be allowed,
    // and the standard pair offered even for primary-selection events.
    if (!terminal->options().kittyClipboardPolicy.contains(KittyClipboardPolicy::all))
        return false;
    refreshCapabilities();
    if (!lastCapabilities.contains(KittyClipboardCapabilities::standard))
        return false;
    return isAvailable(KittyClipboardPermissionDirection::read, location);
}

void KittyClipboardProtocol::refreshCapabilities()
{
    const std::shared_ptr<Terminal> terminal = lockTerminal();
    if (!terminal)
        return;
    const KittyClipboardCapabilities current = askCapabilities(*terminal);
    if (current == lastCapabilities)
        return;
    const KittyClipboardCapabilities previous = lastCapabilities;
    lastCapabilities = current;

    // A token for a clipboard that can no longer be read is useless.
    std::erase_if(tokens, [&](const KittyClipboardPasteToken& token) {
        return !current.contains(capabilityFor(KittyClipboardPermissionDirection::read, token.location));
    });

    const bool hadPair = previous.contains(KittyClipboardCapabilities::standard);
    const bool hasPair = current.contains(KittyClipboardCapabilities::standard);
    if (hadPair == hasPair)
        return;
    if (hadPair) {
        // The host withdrew the clipboard: every open request hears so before the state goes.
        std::vector<uint8_t> replies;
        auto append = [&](const std::vector<uint8_t>& packet) {
            replies.insert(replies.end(), packet.begin(), packet.end());
        };
        if (transaction) {
            const std::string id = transaction->id;
            transaction.reset();
            advanceSerial();
            append(encodePacket(KittyClipboardOperation::write, KittyClipboardStatus::enosys, id));
        } else if (committedWrite && committedWrite->serial == serial) {
            // A committed write still waiting for the user or the host is as open as one still
            // streaming: its program would otherwise wait for an answer that never comes.
            const std::string id = committedWrite->id;
            advanceSerial();
            append(encodePacket(KittyClipboardOperation::write, KittyClipboardStatus::enosys, id));
        }
        for (const auto& [ticket, read] : pendingReads)
            append(encodePacket(KittyClipboardOperation::read, KittyClipboardStatus::enosys, read->id));
        pendingReads.clear();
        if (!replies.empty())
            send(*terminal, replies);
        clear();
    }
    switchOffPasteEvents(*terminal);
}

void KittyClipboardProtocol::switchOffPasteEvents(Terminal& terminal)
{
    // The protocol runs under its terminal's lock: inside a feed or a paste, or in `runLocked`.
    terminal.terminalLock().assumeHeldByCaller();
    terminal.switchOffKittyPasteEvents();
}

// --- Reset and teardown --------------------------------------------------------------------------

void KittyClipboardProtocol::clear()
{
    grants.clear();
    tokens.clear();
    transaction.reset();
    pendingReads.clear();
    advanceSerial();
    ++sessionGeneration;
}

void KittyClipboardProtocol::terminalDestroyed()
{
    terminal_.withLock([](std::weak_ptr<Terminal>& weak) { weak.reset(); });

    // Completions still queued must find the state already dropped or drop it themselves; both
    // happen on the queue, in order. Nothing is replied: there is no one left to hear it.
    auto dropState = [](KittyClipboardProtocol& protocol) {
        protocol.grants.clear();
        protocol.tokens.clear();
        protocol.transaction.reset();
        protocol.committedWrite.reset();
        protocol.pendingReads.clear();
        ++protocol.sessionGeneration;
    };
    std::shared_ptr<platform::DispatchQueue> queue;
    {
        std::lock_guard guard(queueMutex);
        queue = completionQueue;
    }
    const std::shared_ptr<KittyClipboardProtocol> self = weak_from_this().lock();
    if (queue && self)
        queue->async([self, dropState] { dropState(*self); });
    else
        dropState(*this);
}

} // namespace kestrovan
