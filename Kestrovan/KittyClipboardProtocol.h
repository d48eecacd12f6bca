// The kitty clipboard protocol (OSC 5522 and DEC private mode 5522) of one terminal.
//
// The terminal makes this object on first need and calls it under the terminal lock: with every
// OSC 5522 body, for the mode 5522 set and report, on a full reset, for pastes and when the host's
// clipboards change. The object decides whether a request is allowed (the terminal's policy) and
// offered (the host's capabilities), runs the read and write transactions whose host calls
// complete later on any thread, keeps the remembered grants and the paste tokens, and sends paste
// events. Its work is spread over one file per concern:
//   KittyClipboardProtocol.cpp        the object: dispatch, availability, capabilities, reset and
//                                     teardown, and the completion queue
//   KittyClipboardRead.cpp            read requests: listing, selection, permission, reading
//   KittyClipboardWrite.cpp           write packets, commit, permission and the host write
//   KittyClipboardTokens.cpp          storing and redeeming paste tokens
//   KittyClipboardPaste.cpp           pastes: paste events or encoded text
//   KittyClipboardPacketEncoding.cpp  the reply packets
//
// Every host completion is first moved onto the completion queue, then takes the terminal lock and
// compares the counter it was started under (`sessionGeneration` for reads, `serial` for writes)
// with the current one; a completion overtaken by a reset, a newer write or the terminal's end is
// dropped without a reply. Each read and each write is answered at most once, however often a host
// calls a completion.
//
// What a program can make this object hold is bounded: at most `maximumPendingReads` reads wait at
// once (one more is answered EBUSY at once), and the state of a read or write belongs to this
// object alone. The completions a host keeps hold it only weakly, so a request that is answered,
// refused or overtaken frees what it held even while its permission prompt is still open.
#pragma once

#include "Kestrovan/KittyClipboardGrants.h"
#include "Kestrovan/KittyClipboardPacket.h"
#include "Kestrovan/KittyClipboardTypes.h"
#include "Kestrovan/KittyClipboardWriteTransaction.h"
#include "Kestrovan/Locked.h"
#include "Kestrovan/Terminal.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace platform {
class DispatchQueue;
}

namespace kestrovan {

/// One accepted read request, from its acceptance until it is answered or dropped.
struct KittyClipboardReadWork
{
    KittyClipboardLocation location = KittyClipboardLocation::standard;
    std::string id;
    std::string password;
    std::string name;
    /// The requested types in request order; empty for a listing.
    std::vector<std::string> requested;
    /// `sessionGeneration` when the request was accepted.
    uint64_t generation = 0;
    uint64_t ticket = 0;
    /// The paste snapshot a redeemed token unlocked; reads then go to it instead of the host.
    std::optional<TerminalClipboardSnapshot> snapshot;
    bool preauthorized = false;
    /// The host's spelling of each requested type on offer, in request order, once listed.
    std::vector<std::string> selected;
    /// What the host has given so far.
    std::vector<KittyClipboardRepresentation> results;
};

class KittyClipboardProtocol : public std::enable_shared_from_this<KittyClipboardProtocol>
{
public:
    /// The label of the serial queue host completions are moved onto.
    static constexpr const char* completionQueueLabel = "org.morvane.Kestrovan.kitty-clipboard";

    /// Reads the host's capabilities at once. Host completions run on `completionQueue`; without
    /// one, a serial queue of its own is started the first time a completion is expected.
    explicit KittyClipboardProtocol(std::weak_ptr<Terminal> terminal,
                                    std::shared_ptr<platform::DispatchQueue> completionQueue = nullptr);
    ~KittyClipboardProtocol();

    KittyClipboardProtocol(const KittyClipboardProtocol&) = delete;
    KittyClipboardProtocol& operator=(const KittyClipboardProtocol&) = delete;

    /// One OSC 5522 body, the bytes after "5522;". Replies, if any, go to the terminal's host.
    void handle(std::span<const uint8_t> body);
    /// Whether the policy allows the direction and the host (asked afresh) offers it at `location`.
    bool isAvailable(KittyClipboardPermissionDirection direction, KittyClipboardLocation location);
    /// Whether a paste from `location` may go out as a paste event: the program switched them on,
    /// the policy allows both directions, the host offers the standard pair and can read `location`.
    bool canSendPasteEvent(KittyClipboardLocation location);
    /// Asks the host what its clipboards can do. Losing the standard read and write pair answers
    /// every open request with ENOSYS and clears the state; gaining or losing it switches paste
    /// events off.
    void refreshCapabilities();
    /// Drops grants, tokens, the write transaction and pending reads without replies (full reset).
    void clear();
    /// The terminal is going away: forget it now, clean up on the completion queue.
    void terminalDestroyed();

    /// A paste: a paste event when the request has a snapshot and the program asked for events,
    /// else its text, encoded for the terminal's modes. Every host's paste goes through here.
    TerminalPasteResult paste(const TerminalPasteRequest& request, bool allowUnsafe);

    /// Keeps a token for a paste event just sent (at most 32, each at most 30 seconds).
    void storeToken(const std::string& token, KittyClipboardLocation location,
                    TerminalClipboardSnapshot snapshot);
    /// Redeems a live token for reading `location`: its snapshot, once; absent without a match.
    std::optional<TerminalClipboardSnapshot> consumeToken(const std::string& password,
                                                          const std::string& name,
                                                          KittyClipboardPermissionDirection direction,
                                                          KittyClipboardLocation location);

    // Reply packets, each framed ESC ] 5522; ... ESC \ whatever the terminal's C1 setting: they
    // are also sent as paste events, outside the reply path.

    /// type=OP:status=STATUS[:id=ID].
    static std::vector<uint8_t> encodePacket(KittyClipboardOperation operation, KittyClipboardStatus status,
                                             const std::string& id);
    /// OK (with loc, id and the base64 password), DATA under mime "." with the space-separated
    /// types and a line feed, DONE.
    static std::vector<uint8_t> encodeMimeList(const std::vector<std::string>& mimeTypes,
                                               std::optional<KittyClipboardLocation> location,
                                               const std::string& id,
                                               const std::optional<std::string>& password);
    /// OK, the data of each representation in DATA packets of at most 4096 bytes, DONE.
    static std::vector<uint8_t>
    encodeReadSuccess(const std::string& id,
                      const std::vector<KittyClipboardRepresentation>& representations);

    static constexpr int64_t maximumReadRequestBytes = 65536;
    /// Reads that may wait for the host at once; the same bound as the token and grant stores.
    static constexpr size_t maximumPendingReads = 32;
    static constexpr int64_t maximumAliasListBytes = 65536;
    static constexpr size_t maximumTokenCount = 32;
    static constexpr uint64_t maximumTokenLifetimeNanoseconds = 30'000'000'000;

    // State, for the host's diagnostics and for tests; read under the terminal lock.

    /// The host's capabilities as last read.
    KittyClipboardCapabilities capabilities() const { return lastCapabilities; }
    size_t pendingReadCount() const { return pendingReads.size(); }
    bool hasOpenWriteTransaction() const { return transaction.has_value(); }
    /// True while a committed write waits for the user or the host.
    bool hasCommittedWrite() const { return committedWrite != nullptr; }
    size_t tokenCount() const { return tokens.size(); }
    const KittyClipboardGrants& rememberedGrants() const { return grants; }
    uint64_t writeSerial() const { return serial; }
    uint64_t readSessionGeneration() const { return sessionGeneration; }

private:
    /// A committed write waiting for permission and the host. The protocol holds the only strong
    /// reference; a newer write or a reset drops it, so an orphaned write's data is freed at once
    /// rather than when its prompt is finally answered.
    struct CommittedWrite
    {
        uint64_t serial = 0;
        KittyClipboardLocation location = KittyClipboardLocation::standard;
        std::string id;
        std::string password;
        std::string name;
        KittyClipboardWriteContent content;
    };

    // The object's links to the world.
    std::shared_ptr<Terminal> lockTerminal() const;
    platform::DispatchQueue& queue();
    void send(Terminal& terminal, const std::vector<uint8_t>& packet);
    /// Runs `body` on the completion queue with the terminal alive and its lock held; dropped when
    /// the protocol or the terminal is gone by then.
    void runLocked(std::function<void(KittyClipboardProtocol&, Terminal&)> body);
    /// A host completion: the first call moves `body` with its argument onto the completion queue
    /// (see `runLocked`); later calls are ignored.
    template <typename Argument>
    std::function<void(Argument)>
    completion(std::function<void(KittyClipboardProtocol&, Terminal&, Argument)> body);

    /// The write serial moves on: any committed write is orphaned.
    void advanceSerial();

    // Reads (KittyClipboardRead.cpp). The steps after acceptance run with the terminal lock held.
    // A pending read is owned by `pendingReads`; every later step, and every completion handed to
    // the host, holds it weakly and finds it gone once it was answered or dropped.
    using ReadWork = std::shared_ptr<KittyClipboardReadWork>;
    using WeakReadWork = std::weak_ptr<KittyClipboardReadWork>;
    void handleRead(const KittyClipboardMetadata& metadata, std::span<const uint8_t> payload,
                    bool hasPayload);
    /// The read, while it is still pending in the current session; null otherwise.
    ReadWork liveRead(const WeakReadWork& weak) const;
    void enumerateForRead(Terminal& terminal, const ReadWork& work);
    void selectForRead(Terminal& terminal, const ReadWork& work, const std::vector<std::string>& available);
    void readRepresentation(Terminal& terminal, size_t index, const ReadWork& work);
    void finishRead(Terminal& terminal, const KittyClipboardReadWork& work, KittyClipboardStatus status);
    /// Sends a read's final packet if the read is still pending, and ends it.
    void answerRead(Terminal& terminal, const KittyClipboardReadWork& work,
                    const std::vector<uint8_t>& packet);

    // Writes (KittyClipboardWrite.cpp).
    void beginWrite(const KittyClipboardMetadata& metadata, bool hasPayload);
    /// Runs one packet's `step` on the open write transaction (if any, and while the terminal
    /// lives); `step` returns whether the transaction stays open.
    template <typename Step> void continueWrite(Step&& step);
    void handleWriteData(const KittyClipboardMetadata& metadata, std::span<const uint8_t> payload,
                         bool hasPayload);
    void handleWriteAlias(const KittyClipboardMetadata& metadata, std::span<const uint8_t> payload,
                          bool hasPayload);
    void commitWrite(Terminal& terminal, KittyClipboardWriteTransaction transaction,
                     KittyClipboardWriteContent content);
    void requestWritePermission(Terminal& terminal, const std::shared_ptr<CommittedWrite>& write);
    void performHostWrite(Terminal& terminal, const std::shared_ptr<CommittedWrite>& write);
    void finishWrite(Terminal& terminal, const CommittedWrite& write, KittyClipboardStatus status);
    /// Ends the open transaction, if any, with `status` under its own id.
    void abortWrite(KittyClipboardStatus status);
    /// Ends a transaction with a reply: the serial moves on and `status` is sent with `id`.
    void endWrite(Terminal& terminal, const std::string& id, KittyClipboardStatus status);

    // Pastes (KittyClipboardPaste.cpp).
    bool sendPasteEvent(const TerminalClipboardSnapshot& snapshot, Terminal& terminal);
    /// Scans bytes the user sends for a submitted command line, as typed input is.
    static void scanAsUserInput(Terminal& terminal, std::span<const uint8_t> bytes);

    /// Switches paste events (mode 5522) off and forgets any saved value of the mode.
    static void switchOffPasteEvents(Terminal& terminal);

    // The weak reference is written by `terminalDestroyed` while completions may read it on the
    // queue, so it has a lock of its own.
    Locked<std::weak_ptr<Terminal>> terminal_;
    std::mutex queueMutex;
    std::shared_ptr<platform::DispatchQueue> completionQueue;

    // Everything below is touched only with the terminal lock held (or, after the terminal's end,
    // on the completion queue).
    KittyClipboardGrants grants;
    std::deque<KittyClipboardPasteToken> tokens;
    std::optional<KittyClipboardWriteTransaction> transaction;
    std::shared_ptr<CommittedWrite> committedWrite;
    uint64_t serial = 0;
    uint64_t sessionGeneration = 0;
    /// Every read not answered yet, by ticket. Tickets only grow, so the map is in acceptance order.
    std::map<uint64_t, ReadWork> pendingReads;
    uint64_t nextReadTicket = 0;
    KittyClipboardCapabilities lastCapabilities;
};

template <typename Argument>
std::function<void(Argument)>
KittyClipboardProtocol::completion(std::function<void(KittyClipboardProtocol&, Terminal&, Argument)> body)
{
    // Shared by the copies a host may make of the completion, so only the first call counts.
    auto called = std::make_shared<std::atomic<bool>>(false);
    std::weak_ptr<KittyClipboardProtocol> weakSelf = weak_from_this();
    return [weakSelf, called, body = std::move(body)](Argument argument) {
        if (called->exchange(true))
            return;
        if (const std::shared_ptr<KittyClipboardProtocol> self = weakSelf.lock()) {
            self->runLocked(
                [body, argument = std::move(argument)](KittyClipboardProtocol& protocol, Terminal& terminal) {
                    body(protocol, terminal, argument);
                });
        }
    };
}

} // namespace kestrovan
