// Clipboard read requests: a program names "." for the list of types on offer, or the types it
// wants. The request is checked on the parse thread; then, on the completion queue, the host lists
// its types, the user is asked unless a grant or a paste token covers the request, and the chosen
// types are read one after the other. The program hears one error status, or OK, DATA packets and
// DONE; or nothing when the request was malformed or overtaken by a reset.
#include "Kestrovan/KittyClipboardBase64Decoder.h"
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/Utf8.h"

#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace kestrovan {

namespace {

/// The word as text, ill-formed UTF-8 repaired.
std::string repairedText(std::span<const uint8_t> word)
{
    return utf8String(decodeUtf8(std::string_view(reinterpret_cast<const char*>(word.data()), word.size())));
}

} // namespace

void KittyClipboardProtocol::handleRead(const KittyClipboardMetadata& metadata,
                                        std::span<const uint8_t> payload, bool hasPayload)
{
    // A request that names nothing is not answered.
    if (!hasPayload || payload.empty())
        return;
    KittyClipboardBase64Decoder decoder;
    if (decoder.append(payload, maximumReadRequestBytes) || !decoder.isComplete())
        return;

    bool listing = false;
    bool malformed = false;
    std::vector<std::string> requested;
    std::unordered_set<std::string> requestedKeys;
    scanASCIIWords(decoder.decoded, [&](std::span<const uint8_t> word) {
        const std::string text = repairedText(word);
        if (text == ".") {
            // "." asks for the listing; mixed with types the request means nothing sensible.
            malformed = !requested.empty();
            listing = true;
            return !malformed;
        }
        if (listing || !KittyClipboardMime::isValid(text)) {
            malformed = true;
            return false;
        }
        // The first spelling of a type wins; later ones are the same type.
        if (requestedKeys.insert(KittyClipboardMime::matchKey(text)).second)
            requested.push_back(text);
        return true;
    });
    if (malformed || (!listing && requested.empty()))
        return;

    const std::shared_ptr<Terminal> terminal = lockTerminal();
    if (!terminal || !terminal->delegate())
        return;
    if (!isAvailable(KittyClipboardPermissionDirection::read, metadata.location)) {
        send(*terminal,
             encodePacket(KittyClipboardOperation::read, KittyClipboardStatus::enosys, metadata.id));
        return;
    }
    // A program cannot pile up reads while the user has not answered: past the bound a read is
    // busy at once, before it spends a token or reaches the host.
    if (pendingReads.size() >= maximumPendingReads) {
        send(*terminal,
             encodePacket(KittyClipboardOperation::read, KittyClipboardStatus::ebusy, metadata.id));
        return;
    }

    auto work = std::make_shared<KittyClipboardReadWork>();
    work->location = metadata.location;
    work->id = metadata.id;
    work->password = metadata.password;
    work->name = metadata.name;
    work->requested = std::move(requested);
    // A paste token answers for the types of its paste event, without a prompt; failing that a
    // remembered grant does. A listing needs no permission at all, so it spends no token.
    if (!listing) {
        work->snapshot = consumeToken(metadata.password, metadata.name,
                                      KittyClipboardPermissionDirection::read, metadata.location);
        work->preauthorized = work->snapshot.has_value();
    }
    if (!work->preauthorized)
        work->preauthorized = grants.covers(metadata.password, metadata.name,
                                            KittyClipboardPermissionDirection::read, metadata.location);
    work->generation = sessionGeneration;
    work->ticket = ++nextReadTicket;
    pendingReads.emplace(work->ticket, work);

    runLocked([weak = WeakReadWork(work)](KittyClipboardProtocol& protocol, Terminal& terminal) {
        if (const ReadWork read = protocol.liveRead(weak))
            protocol.enumerateForRead(terminal, read);
    });
}

KittyClipboardProtocol::ReadWork KittyClipboardProtocol::liveRead(const WeakReadWork& weak) const
{
    ReadWork work = weak.lock();
    if (!work || work->generation != sessionGeneration || pendingReads.count(work->ticket) == 0)
        return nullptr;
    return work;
}

void KittyClipboardProtocol::enumerateForRead(Terminal& terminal, const ReadWork& work)
{
    if (work->snapshot) {
        selectForRead(terminal, work, work->snapshot->mimeTypes);
        return;
    }
    const std::shared_ptr<TerminalDelegate> delegate = terminal.delegate();
    const bool started =
        delegate && delegate->kittyClipboardAvailableMimeTypes(
                        terminal, work->location,
                        completion<std::optional<std::vector<std::string>>>(
                            [weak = WeakReadWork(work)](KittyClipboardProtocol& protocol, Terminal& terminal,
                                                        std::optional<std::vector<std::string>> available) {
                                const ReadWork read = protocol.liveRead(weak);
                                if (!read)
                                    return;
                                if (!available)
                                    protocol.finishRead(terminal, *read, KittyClipboardStatus::enosys);
                                else
                                    protocol.selectForRead(terminal, read, *available);
                            }));
    if (!started)
        finishRead(terminal, *work, KittyClipboardStatus::enosys);
}

void KittyClipboardProtocol::selectForRead(Terminal& terminal, const ReadWork& work,
                                           const std::vector<std::string>& available)
{
    if (work->requested.empty()) {
        answerRead(terminal, *work, encodeMimeList(available, std::nullopt, work->id, std::nullopt));
        return;
    }

    // The host's spelling of each requested type, in the order the program asked for them.
    std::unordered_map<std::string, std::string> offered;
    for (const std::string& type : available)
        offered.emplace(KittyClipboardMime::matchKey(type), type);
    for (const std::string& type : work->requested) {
        if (const auto found = offered.find(KittyClipboardMime::matchKey(type)); found != offered.end())
            work->selected.push_back(found->second);
    }
    if (work->selected.empty()) {
        finishRead(terminal, *work, KittyClipboardStatus::enosys);
        return;
    }
    if (work->preauthorized) {
        readRepresentation(terminal, 0, work);
        return;
    }

    KittyClipboardPermissionRequest request;
    request.direction = KittyClipboardPermissionDirection::read;
    request.location = work->location;
    request.name = work->name;
    request.mimeTypes = work->selected;
    request.canRememberPassword = !work->password.empty() && !work->name.empty();
    const std::shared_ptr<TerminalDelegate> delegate = terminal.delegate();
    const bool started =
        delegate &&
        delegate->kittyClipboardRequestPermission(
            terminal, request,
            completion<KittyClipboardPermissionResult>(
                [weak = WeakReadWork(work)](KittyClipboardProtocol& protocol, Terminal& terminal,
                                            KittyClipboardPermissionResult answer) {
                    const ReadWork read = protocol.liveRead(weak);
                    if (!read)
                        return;
                    if (!answer.allowed) {
                        protocol.finishRead(terminal, *read, KittyClipboardStatus::eperm);
                        return;
                    }
                    // "Remember" only means something for a request that can be recognised again.
                    if (answer.rememberPassword && !read->password.empty() && !read->name.empty())
                        protocol.grants.add(read->password, KittyClipboardPermissionDirection::read,
                                            read->location);
                    protocol.readRepresentation(terminal, 0, read);
                }));
    if (!started)
        finishRead(terminal, *work, KittyClipboardStatus::eperm);
}

void KittyClipboardProtocol::readRepresentation(Terminal& terminal, size_t index, const ReadWork& work)
{
    const std::string& type = work->selected[index];
    auto done = completion<KittyClipboardReadResult>(
        [weak = WeakReadWork(work), index](KittyClipboardProtocol& protocol, Terminal& terminal,
                                           KittyClipboardReadResult result) {
            const ReadWork read = protocol.liveRead(weak);
            if (!read)
                return;
            switch (result.kind) {
            case KittyClipboardReadResult::Kind::busy:
                protocol.finishRead(terminal, *read, KittyClipboardStatus::ebusy);
                return;
            case KittyClipboardReadResult::Kind::denied:
                protocol.finishRead(terminal, *read, KittyClipboardStatus::eperm);
                return;
            case KittyClipboardReadResult::Kind::unavailable:
                // The clipboard changed since it was listed; the other types may still be there.
                break;
            case KittyClipboardReadResult::Kind::data:
                read->results.push_back({read->selected[index], std::move(result.bytes)});
                break;
            }
            if (index + 1 < read->selected.size()) {
                protocol.readRepresentation(terminal, index + 1, read);
                return;
            }
            if (read->results.empty())
                protocol.finishRead(terminal, *read, KittyClipboardStatus::enosys);
            else
                protocol.answerRead(terminal, *read, encodeReadSuccess(read->id, read->results));
        });

    bool started = false;
    if (work->snapshot) {
        started = work->snapshot->read && work->snapshot->read(type, std::move(done));
    } else if (const std::shared_ptr<TerminalDelegate> delegate = terminal.delegate()) {
        started = delegate->kittyClipboardRead(terminal, work->location, type, std::move(done));
    }
    if (!started)
        finishRead(terminal, *work, KittyClipboardStatus::enosys);
}

void KittyClipboardProtocol::finishRead(Terminal& terminal, const KittyClipboardReadWork& work,
                                        KittyClipboardStatus status)
{
    answerRead(terminal, work, encodePacket(KittyClipboardOperation::read, status, work.id));
}

void KittyClipboardProtocol::answerRead(Terminal& terminal, const KittyClipboardReadWork& work,
                                        const std::vector<uint8_t>& packet)
{
    // Only a read still pending is answered: a host that breaks its promise and completes twice,
    // or after refusing the call, cannot make the program hear a second answer.
    if (work.generation != sessionGeneration || pendingReads.erase(work.ticket) == 0)
        return;
    send(terminal, packet);
}

} // namespace kestrovan
