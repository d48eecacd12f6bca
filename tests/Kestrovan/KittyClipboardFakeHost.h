// A clipboard host for the clipboard protocol's tests and fuzzer: clipboard contents per location,
// a permission answerer, host calls that complete at once, later (held until the test releases
// them) or are refused, and a terminal around it with an injected clock, a fixed token generator
// and a completion queue that runs when the test settles it, or at once (inline).
#pragma once

#include "Kestrovan/Base64.h"
#include "Kestrovan/KittyClipboardProtocol.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/TerminalInnerState.h"
#include "Platform/Dispatch/ManualMainLoop.h"

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrovan::testing {

class FakeClipboardHost : public TerminalDelegate
{
public:
    /// How a host call goes: completed inside the call, held for `releaseHeld`, or refused.
    enum class Answer
    {
        now,
        later,
        refuse,
    };

    std::vector<std::vector<uint8_t>> sends;
    KittyClipboardCapabilities capabilities = KittyClipboardCapabilities::all;
    /// The clipboards; a location without an entry lists nothing (completion with no list).
    std::map<KittyClipboardLocation, std::vector<KittyClipboardRepresentation>> contents;
    /// A read of one of these types (as the host spells it) answers this instead of the data.
    std::map<std::string, KittyClipboardReadResult> readAnswers;
    KittyClipboardPermissionResult permission = KittyClipboardPermissionResult::allow(false);
    KittyClipboardWriteResult writeResult = KittyClipboardWriteResult::success;
    Answer listing = Answer::now, reading = Answer::now, asking = Answer::now, writing = Answer::now;
    bool takesPasteEvents = true;

    std::vector<KittyClipboardPermissionRequest> permissionRequests;
    std::vector<std::string> readTypes;
    std::vector<KittyClipboardWriteContent> writes;
    int listings = 0;
    /// Completions of calls answered `later`, oldest first.
    std::deque<std::function<void()>> held;

    std::string sent() const
    {
        std::string out;
        for (const auto& bytes : sends)
            out.append(bytes.begin(), bytes.end());
        return out;
    }
    /// Calls every held completion, oldest first; returns how many.
    size_t releaseHeld()
    {
        size_t count = 0;
        while (!held.empty()) {
            std::function<void()> next = std::move(held.front());
            held.pop_front();
            next();
            ++count;
        }
        return count;
    }

    void send(Terminal&, Bytes data) override { sends.emplace_back(data.begin(), data.end()); }
    KittyClipboardCapabilities kittyClipboardCapabilities(Terminal&) override { return capabilities; }
    bool kittyClipboardSendPasteEvent(Terminal& source, Bytes data) override
    {
        if (!takesPasteEvents)
            return false;
        send(source, data);
        return true;
    }
    bool kittyClipboardAvailableMimeTypes(
        Terminal&, KittyClipboardLocation location,
        std::function<void(std::optional<std::vector<std::string>>)> completion) override
    {
        ++listings;
        std::optional<std::vector<std::string>> types;
        if (const auto found = contents.find(location); found != contents.end()) {
            types.emplace();
            for (const KittyClipboardRepresentation& item : found->second)
                types->push_back(item.mimeType);
        }
        return answer(listing, [completion, types] { completion(types); });
    }
    bool kittyClipboardRead(Terminal&, KittyClipboardLocation location, const std::string& mimeType,
                            std::function<void(KittyClipboardReadResult)> completion) override
    {
        readTypes.push_back(mimeType);
        return answer(reading, [completion, result = readResult(location, mimeType)] { completion(result); });
    }
    bool kittyClipboardWrite(Terminal&, KittyClipboardLocation location,
                             const KittyClipboardWriteContent& content,
                             std::function<void(KittyClipboardWriteResult)> completion) override
    {
        writes.push_back(content);
        if (writing != Answer::refuse && writeResult == KittyClipboardWriteResult::success)
            contents[location] = content.flattened();
        return answer(writing, [completion, result = writeResult] { completion(result); });
    }
    bool
    kittyClipboardRequestPermission(Terminal&, const KittyClipboardPermissionRequest& request,
                                    std::function<void(KittyClipboardPermissionResult)> completion) override
    {
        permissionRequests.push_back(request);
        return answer(asking, [completion, result = permission] { completion(result); });
    }

    /// What a read of `mimeType` at `location` gives now.
    KittyClipboardReadResult readResult(KittyClipboardLocation location, const std::string& mimeType) const
    {
        if (const auto special = readAnswers.find(mimeType); special != readAnswers.end())
            return special->second;
        if (const auto found = contents.find(location); found != contents.end()) {
            for (const KittyClipboardRepresentation& item : found->second) {
                if (item.mimeType == mimeType)
                    return KittyClipboardReadResult::data(item.data);
            }
        }
        return KittyClipboardReadResult::unavailable();
    }

private:
    bool answer(Answer how, std::function<void()> complete)
    {
        if (how == Answer::refuse)
            return false;
        if (how == Answer::now)
            complete();
        else
            held.push_back(std::move(complete));
        return true;
    }
};

/// A completion queue that runs each item at once, on the thread that queues it.
class InlineQueue : public platform::DispatchQueue
{
public:
    void async(std::function<void()> work) override { work(); }
    void sync(std::function<void()> work) override { work(); }
    bool isCurrent() const override { return true; }
};

/// How the fixture's completions run: when the test settles the queue, or inline.
enum class Completions
{
    queued,
    inlined,
};

/// A terminal with the fake host, its clipboard protocol on a manual queue, a clock the test sets
/// and tokens "token1", "token2", ... Everything runs on the test's thread.
struct ClipboardFixture
{
    std::shared_ptr<FakeClipboardHost> host = std::make_shared<FakeClipboardHost>();
    std::shared_ptr<platform::ManualMainLoop> queue = std::make_shared<platform::ManualMainLoop>();
    std::shared_ptr<Terminal> terminal;
    uint64_t now = 1'000'000'000;
    int tokens = 0;
    bool tokensFail = false;

    explicit ClipboardFixture(KittyClipboardPolicy policy = KittyClipboardPolicy::all,
                              TerminalOptions options = TerminalOptions::defaults(),
                              std::shared_ptr<FakeClipboardHost> existingHost = nullptr,
                              Completions completions = Completions::queued)
    {
        if (existingHost)
            host = std::move(existingHost);
        options.kittyClipboardPolicy = policy;
        terminal = Terminal::create(host, options);
        terminal->setKittyClipboardClock([this] { return now; });
        terminal->setKittyClipboardTokenGenerator([this]() -> std::optional<std::string> {
            if (tokensFail)
                return std::nullopt;
            return "token" + std::to_string(++tokens);
        });
        std::shared_ptr<platform::DispatchQueue> completionQueue = queue;
        if (completions == Completions::inlined)
            completionQueue = std::make_shared<InlineQueue>();
        terminal->setKittyClipboardCompletionQueue(completionQueue);
        // Made now, as a host's first clipboard use would, so it reads the capabilities at once.
        terminal->refreshKittyClipboardCapabilities();
    }
    ClipboardFixture(const ClipboardFixture&) = delete;
    /// The terminal goes first and its clean-up runs, so no queued work outlives the fixture.
    ~ClipboardFixture()
    {
        terminal.reset();
        settle();
    }

    const KittyClipboardProtocol& protocol() { return *terminal->innerState().kittyClipboard; }
    /// Runs the completion queue until it is empty.
    void settle() { queue->runUntilIdle(); }
    /// Feeds one OSC 5522 body and settles; returns what the program received meanwhile.
    std::string exchange(const std::string& body)
    {
        host->sends.clear();
        const TerminalUnsharedScope unshared(terminal->terminalLock());
        terminal->feed("\x1b]5522;" + body + "\x1b\\");
        settle();
        return host->sent();
    }
    /// Releases the host's held completions and settles; returns what the program received.
    std::string release()
    {
        host->sends.clear();
        host->releaseHeld();
        settle();
        return host->sent();
    }
};

inline std::string b64(std::string_view text)
{
    return base64Encode(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

/// One reply packet: type, status and the optional fields as written after them.
inline std::string packet(const std::string& type, const std::string& status, const std::string& fields = "")
{
    return "\x1b]5522;type=" + type + ":status=" + status + fields + "\x1b\\";
}

/// The OK, DATA..., DONE answer of a read with id `id` (":id=..." fields) for (type, data) pairs.
inline std::string readAnswer(const std::string& id,
                              const std::vector<std::pair<std::string, std::string>>& items)
{
    const std::string idField = id.empty() ? "" : ":id=" + id;
    std::string out = packet("read", "OK", idField);
    for (const auto& [type, data] : items)
        out += packet("read", "DATA", idField + ":mime=" + b64(type) + ";" + b64(data));
    return out + packet("read", "DONE", idField);
}

} // namespace kestrovan::testing
