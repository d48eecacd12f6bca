#include "TestChild/TestStream.h"
#include "TestSupport.h"

#include "Kestrovan/ChildProcessTestSupport.h"
#include "Kestrovan/LocalProcess.h"
#include "Platform/Dispatch/SerialQueue.h"
#include "Platform/Log/Log.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sys/stat.h>

using namespace kestrovan;
using kestrovan::testing::bytesOf;
using kestrovan::testing::childDeadline;
using kestrovan::testing::eventually;

namespace {

// Records everything a process reports; launch failures arrive through the default operation, as
// text in the output.
class RecordingDelegate : public LocalProcessDelegate
{
public:
    void processTerminated(LocalProcess&, std::optional<int32_t> exitCode) override
    {
        std::lock_guard guard(mutex);
        ends.push_back(exitCode);
        outputAtEnd.push_back(output);
        changed.notify_all();
    }
    void dataReceived(std::span<const uint8_t> slice) override
    {
        std::lock_guard guard(mutex);
        output.append(slice.begin(), slice.end());
        changed.notify_all();
    }
    winsize getWindowSize() override
    {
        if (duringStart)
            duringStart();
        return size;
    }

    /// Waits until `condition` holds under the lock; false after the deadline.
    bool waitFor(const std::function<bool()>& condition)
    {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, childDeadline, condition);
    }
    bool waitForEnds(size_t count)
    {
        return waitFor([&] { return ends.size() >= count; });
    }
    bool waitForOutput(const std::string& text)
    {
        return waitFor([&] { return output.find(text) != std::string::npos; });
    }
    std::string outputNow()
    {
        std::lock_guard guard(mutex);
        return output;
    }
    void clearOutput()
    {
        std::lock_guard guard(mutex);
        output.clear();
    }

    std::mutex mutex;
    std::condition_variable changed;
    std::string output;
    std::vector<std::optional<int32_t>> ends;
    std::vector<std::string> outputAtEnd;
    winsize size{24, 80, 0, 0};
    std::function<void()> duringStart;
};

// Sums the test child's stream as it arrives, borrowed when direct delivery allows.
class ChecksumDelegate : public LocalProcessDelegate, public LocalProcessBorrowedDataDelegate
{
public:
    void dataReceivedBorrowed(std::span<const uint8_t> bytes) override
    {
        borrowed = true;
        add(bytes);
    }
    void dataReceived(std::span<const uint8_t> slice) override { add(slice); }
    void processTerminated(LocalProcess&, std::optional<int32_t> exitCode) override
    {
        std::lock_guard guard(mutex);
        ended = true;
        code = exitCode;
        bytesAtEnd = count;
        checksumAtEnd = checksum.value();
        changed.notify_all();
    }
    winsize getWindowSize() override { return {24, 80, 0, 0}; }

    void add(std::span<const uint8_t> bytes)
    {
        std::lock_guard guard(mutex);
        for (uint8_t byte : bytes)
            checksum.add(byte);
        count += bytes.size();
    }

    std::mutex mutex;
    std::condition_variable changed;
    testchild::Checksum checksum;
    uint64_t count = 0;
    bool borrowed = false;
    bool ended = false;
    std::optional<int32_t> code;
    uint64_t bytesAtEnd = 0;
    uint64_t checksumAtEnd = 0;
};

// Collects the lines logged from any thread.
class ThreadSafeLog
{
public:
    ThreadSafeLog()
    {
        platform::setLogSink([this](const platform::LogRecord& record) {
            std::lock_guard guard(mutex_);
            lines_.emplace_back(record.message);
        });
    }
    ~ThreadSafeLog() { platform::setLogSink({}); }
    bool contains(const std::string& text)
    {
        std::lock_guard guard(mutex_);
        for (const auto& line : lines_)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

std::vector<std::string> shell(const std::string& script)
{
    return {"-c", script};
}

} // namespace

TEST(LocalProcessError, DescribesItsCaseAndPayload)
{
    EXPECT_EQ(LocalProcessError::forkFailed(2).description(), "forkFailed(2)");
    EXPECT_EQ(LocalProcessError::writeChannelFailed(24).description(), "writeChannelFailed(24)");
    EXPECT_EQ(LocalProcessError::writeFailed(5, 3).description(), "writeFailed(code: 5, bytesWritten: 3)");
    EXPECT_EQ(LocalProcessError::alreadyRunning().description(), "alreadyRunning");
    EXPECT_EQ(LocalProcessError::notRunning().description(), "notRunning");
    EXPECT_EQ(LocalProcessDelegate::launchFailureText(LocalProcessError::forkFailed(12)),
              "\r\nProcess launch failed: forkFailed(12)\r\n");
    EXPECT_NE(LocalProcessError::forkFailed(2), LocalProcessError::writeChannelFailed(2));
}

TEST(LocalProcess, ReportsEachChildsEndAfterItsOutputAndCanStartAgain)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    auto process = LocalProcess::create(delegate);

    struct Case
    {
        std::string script;
        std::string output;
        std::optional<int32_t> code;
    };
    const std::vector<Case> cases = {
        {"echo hi", "hi", 0},
        {"echo three; exit 3", "three", 3},
        {"echo killed; kill -9 $$", "killed", std::nullopt},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].script);
        ASSERT_EQ(process->startProcessChecked("/bin/sh", shell(cases[i].script)), std::nullopt);
        ASSERT_TRUE(delegate->waitForEnds(i + 1)) << "no end reported";
        std::lock_guard guard(delegate->mutex);
        EXPECT_EQ(delegate->ends[i], cases[i].code);
        EXPECT_NE(delegate->outputAtEnd[i].find(cases[i].output), std::string::npos)
            << "output at the end: " << delegate->outputAtEnd[i];
    }
    EXPECT_FALSE(process->running());
    EXPECT_FALSE(process->windingDown());
    EXPECT_EQ(process->shellPid(), 0);
    EXPECT_EQ(process->childfd(), -1);

    // A program that cannot be executed fails the start with the errno of its exec, and the
    // process is idle again at once.
    EXPECT_EQ(process->startProcessChecked("/nonexistent/program"), LocalProcessError::forkFailed(ENOENT));
    EXPECT_EQ(process->startProcessChecked("/dev/null"), LocalProcessError::forkFailed(EACCES));
    EXPECT_FALSE(process->running());
}

TEST(LocalProcess, StartsTheChildWithItsNameEnvironmentDirectoryAndSize)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    delegate->size = winsize{30, 100, 0, 0};
    auto process = LocalProcess::create(delegate);
    ASSERT_EQ(process->startProcessChecked(KESTROVAN_TEST_CHILD, {"report"},
                                           std::vector<std::string>{"TESTCHILD_VALUE=x"}, "renamed", "/tmp"),
              std::nullopt);
    ASSERT_TRUE(delegate->waitForEnds(1));
    const std::string output = delegate->outputNow();
    for (const char* line :
         {"cwd=/tmp", "arg=renamed", "arg=report", "env=x", "sigint=default", "blocked=none", "size=30x100"})
        EXPECT_NE(output.find(line), std::string::npos) << "missing " << line << " in:\n" << output;

    // Without an environment the child gets the terminal's own.
    ASSERT_EQ(process->startProcessChecked("/bin/sh", shell("echo \"term=$TERM\"")), std::nullopt);
    ASSERT_TRUE(delegate->waitForEnds(2));
    EXPECT_NE(delegate->outputNow().find("term=xterm-256color"), std::string::npos);
}

TEST(LocalProcess, LooksUpAProgramNamedWithoutASlashAndSaysPlainlyWhenItIsNotThere)
{
    // Before: "sh" went to execve as a path, and the start failed as forkFailed(2).
    auto delegate = std::make_shared<RecordingDelegate>();
    auto process = LocalProcess::create(delegate);
    struct Case
    {
        const char* name;
        std::string program;
        std::optional<std::vector<std::string>> environment;
        std::optional<LocalProcessError> failure;
    };
    const Case cases[] = {
        {"found in the child's own search path", "sh", std::vector<std::string>{"PATH=/nonexistent:/bin"},
         std::nullopt},
        {"found in the default environment's search path", "sh", std::nullopt, std::nullopt},
        {"in no folder of the search path", "kestrovan-no-such-program", std::nullopt,
         LocalProcessError::programNotFound("kestrovan-no-such-program")},
        {"not in the child's search path, whatever the host's", "sh",
         std::vector<std::string>{"PATH=/nonexistent"}, LocalProcessError::programNotFound("sh")},
    };
    size_t ends = 0;
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        delegate->clearOutput();
        const auto result =
            process->startProcessChecked(test.program, {"-c", "echo ran as $0"}, test.environment);
        EXPECT_EQ(result, test.failure);
        if (result)
            continue;
        ASSERT_TRUE(delegate->waitForEnds(++ends));
        EXPECT_NE(delegate->outputNow().find("ran as " + test.program), std::string::npos)
            << "the name, not the path found, is the program's name: " << delegate->outputNow();
    }

    EXPECT_EQ(LocalProcessError::programNotFound("htop").description(), "htop: not found");
    EXPECT_EQ(LocalProcessError::programNotFound("a\x1b]0;b\x07\xc2\x9b"
                                                 "c")
                  .description(),
              "a?]0;b??c: not found")
        << "the name's control characters are shown, not obeyed";

    // Started with a report to the delegate, the failure reads plainly in the output.
    process->startProcess("kestrovan-no-such-program");
    EXPECT_TRUE(
        delegate->waitForOutput("\r\nProcess launch failed: kestrovan-no-such-program: not found\r\n"))
        << delegate->outputNow();
}

TEST(LocalProcess, RefusesWhatItCannotDoAndCountsWhatItSends)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    auto process = LocalProcess::create(delegate);
    winsize size{40, 120, 0, 0};

    std::optional<LocalProcessSendResult> idleResult;
    process->send(bytesOf("x"), [&](LocalProcessSendResult result) { idleResult = result; });
    ASSERT_TRUE(idleResult.has_value()) << "a send without a child completes at once";
    EXPECT_EQ(std::get<LocalProcessError>(*idleResult), LocalProcessError::notRunning());
    EXPECT_FALSE(process->updateWindowSize(size));
    EXPECT_EQ(process->terminalControlBytesForPaste(), std::nullopt);

    ASSERT_EQ(process->startProcessChecked("/bin/sh", shell("echo ready; read -r line; echo \"got=$line\"")),
              std::nullopt);
    ASSERT_TRUE(delegate->waitForOutput("ready"));
    EXPECT_TRUE(process->running());
    EXPECT_GT(process->shellPid(), 0);
    EXPECT_EQ(process->startProcessChecked("/bin/true"), LocalProcessError::alreadyRunning());
    EXPECT_TRUE(process->updateWindowSize(size));
    const auto controls = process->terminalControlBytesForPaste();
    ASSERT_TRUE(controls.has_value());
    EXPECT_TRUE(controls->test(0x03)) << "the interrupt character";

    std::optional<LocalProcessSendResult> emptyResult;
    process->send(std::span<const uint8_t>(), [&](LocalProcessSendResult result) { emptyResult = result; });
    ASSERT_TRUE(emptyResult.has_value()) << "an empty send completes at once";
    EXPECT_EQ(std::get<int64_t>(*emptyResult), 0);
    EXPECT_EQ(process->sendCount(), 0);

    std::mutex mutex;
    std::condition_variable done;
    std::optional<LocalProcessSendResult> lineResult;
    process->send(bytesOf("abc\n"), [&](LocalProcessSendResult result) {
        std::lock_guard guard(mutex);
        lineResult = result;
        done.notify_all();
    });
    {
        std::unique_lock lock(mutex);
        ASSERT_TRUE(done.wait_for(lock, childDeadline, [&] { return lineResult.has_value(); }));
        EXPECT_EQ(std::get<int64_t>(*lineResult), 4);
    }
    EXPECT_EQ(process->sendCount(), 1);
    EXPECT_EQ(process->total(), 4);
    ASSERT_TRUE(delegate->waitForEnds(1));
    EXPECT_NE(delegate->outputNow().find("got=abc"), std::string::npos);
    EXPECT_FALSE(process->updateWindowSize(size)) << "no child any more";
}

TEST(LocalProcess, BoundsTheRepliesWaitingForAChildThatNeverReadsButNeverUserInput)
{
    std::vector<std::string> logged;
    std::mutex logMutex;
    platform::setLogSink([&](const platform::LogRecord& record) {
        std::lock_guard guard(logMutex);
        logged.emplace_back(record.message);
    });
    auto delegate = std::make_shared<RecordingDelegate>();
    auto process = LocalProcess::create(delegate);
    // A program in raw mode that asks and never reads: its input fills, then replies queue.
    ASSERT_EQ(process->startProcessChecked("/bin/sh", shell("stty raw -echo; echo ready; exec sleep 30")),
              std::nullopt);
    ASSERT_TRUE(delegate->waitForOutput("ready"));
    const std::string reply = "\x1b[?62;22c";
    int queued = 0;
    for (int i = 0; i < 100000; ++i)
        queued += process->sendReply(bytesOf(reply)) ? 1 : 0;
    const size_t cost = reply.size() + LocalProcess::pendingReplyOverhead;
    EXPECT_LE(process->pendingReplyBytes(), LocalProcess::maximumPendingReplyBytes + cost);
    EXPECT_LT(queued, 10000) << "a flood of replies is cut off";
    EXPECT_GT(queued, 1000) << "replies are dropped only once a backlog has built up";
    {
        std::lock_guard guard(logMutex);
        EXPECT_EQ(logged.size(), 1u) << "the drops are logged once";
    }
    // What the user types still goes out, in order, however many replies wait.
    const int64_t sendsBefore = process->sendCount();
    for (int i = 0; i < 1000; ++i)
        process->send(bytesOf("typed"));
    EXPECT_EQ(process->sendCount(), sendsBefore + 1000);

    // Once the child is gone its writes are given up and replies are accepted again.
    process->terminate();
    ASSERT_TRUE(delegate->waitForEnds(1));
    EXPECT_TRUE(eventually([&] { return process->pendingReplyBytes() == 0; }));
    platform::setLogSink({});
}

TEST(LocalProcess, TerminateDuringTheStartEndsTheChildOnceItRuns)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    auto process = LocalProcess::create(delegate);
    std::optional<LocalProcessError> nestedStart;
    // The window size is asked for while the process is starting.
    delegate->duringStart = [&] {
        process->terminate();
        nestedStart = process->startProcessChecked("/bin/true");
    };
    ASSERT_EQ(process->startProcessChecked("/bin/sleep", {"30"}), std::nullopt);
    delegate->duringStart = nullptr;
    EXPECT_EQ(nestedStart, LocalProcessError::alreadyRunning());
    ASSERT_TRUE(delegate->waitForEnds(1)) << "the child was not terminated";
    std::lock_guard guard(delegate->mutex);
    EXPECT_EQ(delegate->ends[0], std::nullopt) << "ended by SIGTERM";
}

TEST(LocalProcess, AWriterThatCannotBeMadeIsALaunchFailure)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    int failuresLeft = 2;
    auto process = LocalProcess::create(delegate, nullptr, false, [&](int32_t descriptor) -> int32_t {
        if (failuresLeft > 0) {
            --failuresLeft;
            errno = EMFILE;
            return -1;
        }
        return fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
    });

    EXPECT_EQ(process->startProcessChecked("/bin/sh", shell("echo never")),
              LocalProcessError::writeChannelFailed(EMFILE));
    EXPECT_FALSE(process->running());

    // Reported to the delegate, whose default shows the message as output.
    process->startProcess("/bin/sh", shell("echo never"));
    EXPECT_TRUE(delegate->waitForOutput("\r\nProcess launch failed: writeChannelFailed(24)\r\n"))
        << delegate->outputNow();

    ASSERT_EQ(process->startProcessChecked("/bin/sh", shell("echo again")), std::nullopt);
    ASSERT_TRUE(delegate->waitForEnds(1));
    const std::string output = delegate->outputNow();
    EXPECT_NE(output.find("again"), std::string::npos);
    EXPECT_EQ(output.find("never"), std::string::npos) << "the children of failed starts never ran";
    EXPECT_TRUE(eventually([] { return kestrovan::testing::zombieChildren().empty(); }))
        << "the children of failed starts were not reaped";
}

TEST(LocalProcess, ReleasingItKillsAChildThatIgnoresSigtermAndReapsIt)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    auto stubborn = LocalProcess::create(delegate);
    stubborn->setKillEscalationDelay(0.05);
    // An ignored signal stays ignored across exec, so `sleep` ignores SIGTERM too.
    ASSERT_EQ(stubborn->startProcessChecked("/bin/sh", shell("trap '' TERM; echo ready; exec sleep 30")),
              std::nullopt);
    ASSERT_TRUE(delegate->waitForOutput("ready"));
    const pid_t stubbornPid = stubborn->shellPid();

    auto polite = LocalProcess::create(delegate);
    ASSERT_EQ(polite->startProcessChecked("/bin/sleep", {"30"}), std::nullopt);
    const pid_t politePid = polite->shellPid();

    stubborn.reset();
    polite.reset();
    EXPECT_TRUE(eventually([&] { return !kestrovan::testing::processState(stubbornPid); }))
        << "the child that ignores SIGTERM is still there, state "
        << kestrovan::testing::processState(stubbornPid).value_or('?');
    EXPECT_TRUE(eventually([&] { return !kestrovan::testing::processState(politePid); }));
    std::lock_guard guard(delegate->mutex);
    EXPECT_TRUE(delegate->ends.empty()) << "a released process reports nothing";
}

TEST(LocalProcess, DeliversAllOutputBeforeTheEnd)
{
    struct Mode
    {
        bool directDelivery;
        uint64_t size;
    };
    // Direct delivery hands the borrowed batches over; queued delivery copies and waits for the
    // delivery queue.
    for (const Mode mode : {Mode{true, 64ull << 20}, Mode{false, 8ull << 20}}) {
        SCOPED_TRACE(mode.directDelivery ? "direct" : "queued");
        auto delegate = std::make_shared<ChecksumDelegate>();
        auto process = LocalProcess::create(delegate, nullptr, mode.directDelivery);
        // The point is the order, not the deadline: a slow sanitizer build on a loaded machine
        // must still finish delivering 64 MiB before the drain gives up.
        process->setDrainTimeout(30);
        ASSERT_EQ(
            process->startProcessChecked(KESTROVAN_TEST_CHILD, {"write", std::to_string(mode.size), "7"}),
            std::nullopt);
        std::unique_lock lock(delegate->mutex);
        ASSERT_TRUE(
            delegate->changed.wait_for(lock, std::chrono::seconds(60), [&] { return delegate->ended; }));
        testchild::TestStream stream(7);
        testchild::Checksum expected;
        for (uint64_t i = 0; i < mode.size; ++i)
            expected.add(stream.next());
        // Says which way the drain after the exit ended, should bytes be missing.
        const LocalProcessDrain drain = process->lastDrain();
        SCOPED_TRACE(std::string("the drain ended ") +
                     (drain.end == TerminalIOPipelineWorker::ReadingEnd::endOfOutput
                          ? "at the terminal's end"
                          : "short of the terminal's end") +
                     ", dropping " + std::to_string(drain.droppedBytes) + " bytes");
        EXPECT_EQ(drain.end, TerminalIOPipelineWorker::ReadingEnd::endOfOutput);
        EXPECT_EQ(drain.droppedBytes, 0u);
        EXPECT_EQ(delegate->code, 0);
        EXPECT_EQ(delegate->bytesAtEnd, mode.size);
        EXPECT_EQ(delegate->checksumAtEnd, expected.value());
        EXPECT_EQ(delegate->borrowed, mode.directDelivery);
    }
}

TEST(LocalProcess, DrainsUntilTheTerminalEndsOrTheDrainTimeoutPasses)
{
    // The shell exits at once, leaving a job that holds the terminal open and writes later. Before,
    // the drain stopped at the first read that found nothing, and "late" was never delivered.
    using End = TerminalIOPipelineWorker::ReadingEnd;
    struct Case
    {
        const char* name;
        const char* lateDelay;
        double drainTimeout;
        bool lateDelivered;
        End end;
    };
    const Case cases[] = {
        {"the job writes and ends within the drain", "0.2", 30, true, End::endOfOutput},
        {"the job outlives the drain", "3", 0.2, false, End::deadline},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        auto delegate = std::make_shared<RecordingDelegate>();
        auto process = LocalProcess::create(delegate);
        process->setDrainTimeout(test.drainTimeout);
        // The job ignores the hang-up its session leader's exit sends to the terminal's group (the
        // shell ignores it first, so that the job is never without it).
        const std::string script =
            std::string("trap '' HUP; echo early; (sleep ") + test.lateDelay + "; echo late) &";
        ASSERT_EQ(process->startProcessChecked("/bin/sh", shell(script)), std::nullopt);
        ASSERT_TRUE(delegate->waitForEnds(1));
        std::lock_guard guard(delegate->mutex);
        EXPECT_NE(delegate->outputAtEnd[0].find("early"), std::string::npos);
        EXPECT_EQ(delegate->outputAtEnd[0].find("late") != std::string::npos, test.lateDelivered)
            << delegate->outputAtEnd[0];
        EXPECT_EQ(process->lastDrain().end, test.end);
        EXPECT_EQ(process->lastDrain().droppedBytes, 0u);
    }
}

TEST(LocalProcess, TracesAndDumpsItsTrafficWhenAsked)
{
    ThreadSafeLog diagnostics;
    char folderTemplate[] = "/tmp/kestrovan-dumps-XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    const std::string folder = folderTemplate;

    auto delegate = std::make_shared<RecordingDelegate>();
    auto process = LocalProcess::create(delegate);
    process->setDebugIO(true);
    process->setHostLogging(folder);
    ASSERT_EQ(process->startProcessChecked("/bin/sh", shell("read -r line; printf 'got %s' \"$line\"")),
              std::nullopt);
    process->send(bytesOf("hi\n"));
    ASSERT_TRUE(delegate->waitForEnds(1));

    EXPECT_TRUE(diagnostics.contains("[SEND-0] Queuing data to client: [104, 105, 10] "));
    EXPECT_TRUE(eventually([&] { return diagnostics.contains("[SEND-0] completed bytes=3"); }));
    EXPECT_TRUE(diagnostics.contains("[READ] count="));
    std::string dumped;
    for (int i = 0;; ++i) {
        std::ifstream file(folder + "/log-" + std::to_string(i), std::ios::binary);
        if (!file)
            break;
        dumped += std::string(std::istreambuf_iterator<char>(file), {});
        std::remove((folder + "/log-" + std::to_string(i)).c_str());
    }
    EXPECT_EQ(dumped, delegate->outputNow()) << "the dumps hold exactly what was delivered";
    rmdir(folder.c_str());

    // A folder that cannot be written to is reported, and delivery goes on.
    process->setHostLogging("/nonexistent/folder");
    delegate->clearOutput();
    ASSERT_EQ(process->startProcessChecked("/bin/sh", shell("echo still")), std::nullopt);
    ASSERT_TRUE(delegate->waitForEnds(2));
    EXPECT_NE(delegate->outputNow().find("still"), std::string::npos);
    EXPECT_TRUE(diagnostics.contains("Got error while logging data dump to /nonexistent/folder/log-0: "));

    // A FIFO at a dump's name is refused, not waited on: the reading thread would stall there
    // until a reader came, and the output with it.
    char fifoFolderTemplate[] = "/tmp/kestrovan-dumps-XXXXXX";
    ASSERT_NE(mkdtemp(fifoFolderTemplate), nullptr);
    const std::string fifo = std::string(fifoFolderTemplate) + "/log-0";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    process->setHostLogging(std::string(fifoFolderTemplate));
    delegate->clearOutput();
    ASSERT_EQ(process->startProcessChecked("/bin/sh", shell("echo past the fifo")), std::nullopt);
    if (!delegate->waitForOutput("past the fifo")) {
        ADD_FAILURE() << "the output waited on the FIFO";
        // A reader lets the waiting open go on, so that the process can be ended; it stays open
        // while the dump is written.
        const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
        delegate->waitForOutput("past the fifo");
        close(reader);
    }
    EXPECT_TRUE(diagnostics.contains("Got error while logging data dump to " + fifo +
                                     ": a FIFO, not a regular file"));
    process->setHostLogging(std::nullopt);
    std::filesystem::remove_all(fifoFolderTemplate);
}

TEST(LocalProcess, AWriteTheChildNeverReadsEndsWhenTheProcessGoes)
{
    auto delegate = std::make_shared<RecordingDelegate>();
    auto process = LocalProcess::create(delegate);
    ASSERT_EQ(process->startProcessChecked("/bin/sleep", {"30"}), std::nullopt);

    // Far more than the terminal's input buffer holds: the writer ends up waiting for room.
    const std::vector<uint8_t> flood(1 << 20, 'x');
    std::mutex mutex;
    std::condition_variable done;
    std::optional<LocalProcessSendResult> result;
    process->send(flood, [&](LocalProcessSendResult outcome) {
        std::lock_guard guard(mutex);
        result = outcome;
        done.notify_all();
    });
    process.reset();

    std::unique_lock lock(mutex);
    ASSERT_TRUE(done.wait_for(lock, childDeadline, [&] { return result.has_value(); }))
        << "the blocked write was never ended";
    const auto* error = std::get_if<LocalProcessError>(&*result);
    ASSERT_NE(error, nullptr) << "a write that could not finish reported success";
    EXPECT_EQ(error->kind(), LocalProcessError::Case::writeFailed);
    EXPECT_LT(error->bytesWritten(), static_cast<int64_t>(flood.size()));
}
