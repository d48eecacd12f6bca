// Clipboard write transactions: a write packet opens one, wdata packets stream base64 data for one
// type after another, walias packets name extra types that stand for one already sent, and a bare
// wdata packet commits it. Then, on the completion queue, the user is asked unless a grant covers
// the write, and the host writes the content. The program hears nothing while the transaction is
// healthy and exactly one write status when it ends, under the id of its write packet; a
// transaction overtaken by a newer one or by a reset is never answered.
#include "Kestrovan/KittyClipboardBase64Decoder.h"
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/Utf8.h"

#include <string_view>

namespace kestrovan {

namespace {

std::string repairedText(std::span<const uint8_t> word)
{
    return utf8String(decodeUtf8(std::string_view(reinterpret_cast<const char*>(word.data()), word.size())));
}

} // namespace

void KittyClipboardProtocol::endWrite(Terminal& terminal, const std::string& id, KittyClipboardStatus status)
{
    // Copied first: `id` may belong to the committed write that moving the serial on releases.
    const std::string replyID = id;
    advanceSerial();
    send(terminal, encodePacket(KittyClipboardOperation::write, status, replyID));
}

void KittyClipboardProtocol::abortWrite(KittyClipboardStatus status)
{
    if (!transaction)
        return;
    const std::string id = transaction->id;
    transaction.reset();
    if (const std::shared_ptr<Terminal> terminal = lockTerminal())
        endWrite(*terminal, id, status);
    else
        advanceSerial();
}

void KittyClipboardProtocol::beginWrite(const KittyClipboardMetadata& metadata, bool hasPayload)
{
    // A new write replaces the open one without a word to it, and orphans a committed one.
    transaction.reset();
    advanceSerial();
    const std::shared_ptr<Terminal> terminal = lockTerminal();
    if (!terminal)
        return;
    // The terminal calls its clipboard protocol under its lock.
    terminal->terminalLock().assumeHeldByCaller();
    // The write packet only opens the transaction; data comes in wdata packets.
    if (hasPayload || !metadata.mime.empty()) {
        send(*terminal,
             encodePacket(KittyClipboardOperation::write, KittyClipboardStatus::einval, metadata.id));
        return;
    }
    if (!isAvailable(KittyClipboardPermissionDirection::write, metadata.location)) {
        send(*terminal,
             encodePacket(KittyClipboardOperation::write, KittyClipboardStatus::enosys, metadata.id));
        return;
    }

    // The limits are the options' when the transaction opens; the options clamp them (never less
    // than 64 MiB, one type and no aliases).
    const TerminalOptions& options = terminal->options();
    KittyClipboardWriteTransaction opened;
    opened.serial = serial;
    opened.location = metadata.location;
    opened.id = metadata.id;
    opened.password = metadata.password;
    opened.name = metadata.name;
    opened.byteLimit = options.kittyClipboardWriteLimitBytes();
    opened.representationLimit = options.kittyClipboardMaximumRepresentations();
    opened.aliasLimit = options.kittyClipboardMaximumAliases();
    transaction = std::move(opened);
}

template <typename Step> void KittyClipboardProtocol::continueWrite(Step&& step)
{
    if (!transaction)
        return;
    const std::shared_ptr<Terminal> terminal = lockTerminal();
    if (!terminal)
        return;
    // Taken out for the packet: any ending in `step` leaves no transaction open.
    KittyClipboardWriteTransaction current = std::move(*transaction);
    transaction.reset();
    if (step(*terminal, current))
        transaction = std::move(current);
}

void KittyClipboardProtocol::handleWriteData(const KittyClipboardMetadata& metadata,
                                             std::span<const uint8_t> payload, bool hasPayload)
{
    continueWrite([&](Terminal& terminal, KittyClipboardWriteTransaction& current) {
        if (metadata.mime.empty() && !hasPayload) {
            // The end of the transaction.
            std::optional<KittyClipboardWriteContent> content = current.commit();
            if (!content)
                endWrite(terminal, current.id, KittyClipboardStatus::einval);
            else
                commitWrite(terminal, std::move(current), std::move(*content));
            return false;
        }
        if (metadata.mime.empty() || !hasPayload) {
            endWrite(terminal, current.id, KittyClipboardStatus::einval);
            return false;
        }
        if (const std::optional<KittyClipboardStatus> status = current.append(metadata.mime, payload)) {
            endWrite(terminal, current.id, *status);
            return false;
        }
        return true;
    });
}

void KittyClipboardProtocol::handleWriteAlias(const KittyClipboardMetadata& metadata,
                                              std::span<const uint8_t> payload, bool hasPayload)
{
    continueWrite([&](Terminal& terminal, KittyClipboardWriteTransaction& current) {
        if (!hasPayload || metadata.mime.empty() || !KittyClipboardMime::isValid(metadata.mime)) {
            endWrite(terminal, current.id, KittyClipboardStatus::einval);
            return false;
        }
        KittyClipboardBase64Decoder decoder;
        if (const auto failure = decoder.append(payload, maximumAliasListBytes)) {
            endWrite(terminal, current.id,
                     *failure == KittyClipboardBase64Decoder::Failure::tooLarge
                         ? KittyClipboardStatus::efbig
                         : KittyClipboardStatus::einval);
            return false;
        }
        if (!decoder.isComplete()) {
            endWrite(terminal, current.id, KittyClipboardStatus::einval);
            return false;
        }
        std::optional<KittyClipboardStatus> status;
        scanASCIIWords(decoder.decoded, [&](std::span<const uint8_t> word) {
            status = current.addAliases(metadata.mime, repairedText(word));
            return !status;
        });
        if (status) {
            endWrite(terminal, current.id, *status);
            return false;
        }
        return true;
    });
}

void KittyClipboardProtocol::commitWrite(Terminal& terminal, KittyClipboardWriteTransaction committed,
                                         KittyClipboardWriteContent content)
{
    const bool preauthorized = grants.covers(committed.password, committed.name,
                                             KittyClipboardPermissionDirection::write, committed.location);
    if (!terminal.delegate()) {
        endWrite(terminal, committed.id, KittyClipboardStatus::enosys);
        return;
    }
    // The transaction keeps its serial while it waits; the protocol holds its data (see
    // `CommittedWrite`), the queued steps only a weak reference.
    auto write = std::make_shared<CommittedWrite>();
    write->serial = committed.serial;
    write->location = committed.location;
    write->id = std::move(committed.id);
    write->password = std::move(committed.password);
    write->name = std::move(committed.name);
    write->content = std::move(content);
    committedWrite = write;

    std::weak_ptr<CommittedWrite> weakWrite = write;
    runLocked([weakWrite, preauthorized](KittyClipboardProtocol& protocol, Terminal& terminal) {
        const std::shared_ptr<CommittedWrite> waiting = weakWrite.lock();
        if (!waiting || waiting->serial != protocol.serial)
            return;
        if (preauthorized)
            protocol.performHostWrite(terminal, waiting);
        else
            protocol.requestWritePermission(terminal, waiting);
    });
}

void KittyClipboardProtocol::requestWritePermission(Terminal& terminal,
                                                    const std::shared_ptr<CommittedWrite>& write)
{
    KittyClipboardPermissionRequest request;
    request.direction = KittyClipboardPermissionDirection::write;
    request.location = write->location;
    request.name = write->name;
    for (const KittyClipboardRepresentation& representation : write->content.representations)
        request.mimeTypes.push_back(representation.mimeType);
    for (const KittyClipboardAlias& alias : write->content.aliases)
        request.mimeTypes.push_back(alias.name);
    request.canRememberPassword = !write->password.empty() && !write->name.empty();

    std::weak_ptr<CommittedWrite> weakWrite = write;
    const std::shared_ptr<TerminalDelegate> delegate = terminal.delegate();
    const bool started =
        delegate &&
        delegate->kittyClipboardRequestPermission(
            terminal, request,
            completion<KittyClipboardPermissionResult>([weakWrite](KittyClipboardProtocol& protocol,
                                                                   Terminal& terminal,
                                                                   KittyClipboardPermissionResult answer) {
                const std::shared_ptr<CommittedWrite> waiting = weakWrite.lock();
                if (!waiting || waiting->serial != protocol.serial)
                    return;
                if (!answer.allowed) {
                    protocol.finishWrite(terminal, *waiting, KittyClipboardStatus::eperm);
                    return;
                }
                if (answer.rememberPassword && !waiting->password.empty() && !waiting->name.empty())
                    protocol.grants.add(waiting->password, KittyClipboardPermissionDirection::write,
                                        waiting->location);
                protocol.performHostWrite(terminal, waiting);
            }));
    if (!started)
        finishWrite(terminal, *write, KittyClipboardStatus::eperm);
}

void KittyClipboardProtocol::performHostWrite(Terminal& terminal,
                                              const std::shared_ptr<CommittedWrite>& write)
{
    if (write->serial != serial)
        return;
    std::weak_ptr<CommittedWrite> weakWrite = write;
    const std::shared_ptr<TerminalDelegate> delegate = terminal.delegate();
    const bool started =
        delegate && delegate->kittyClipboardWrite(
                        terminal, write->location, write->content,
                        completion<KittyClipboardWriteResult>([weakWrite](KittyClipboardProtocol& protocol,
                                                                          Terminal& terminal,
                                                                          KittyClipboardWriteResult result) {
                            if (const std::shared_ptr<CommittedWrite> waiting = weakWrite.lock())
                                protocol.finishWrite(terminal, *waiting, statusFor(result));
                        }));
    if (!started) {
        finishWrite(terminal, *write, KittyClipboardStatus::enosys);
        return;
    }
    // The host took what it keeps during the call; only the reply is still owed.
    write->content = KittyClipboardWriteContent();
}

void KittyClipboardProtocol::finishWrite(Terminal& terminal, const CommittedWrite& write,
                                         KittyClipboardStatus status)
{
    if (write.serial != serial)
        return;
    endWrite(terminal, write.id, status);
}

} // namespace kestrovan
