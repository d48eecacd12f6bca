#include "Platform/Dispatch/ProcessWriter.h"

#include "Platform/Sync/Mutex.h"
#include "Platform/Sync/ThreadSafety.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace platform {

struct ProcessWriter::State
{
    // Used only by items on the queue, which run one at a time; -1 once the closing item ran.
    int descriptor = -1;
    // Written by `close` from any thread to wake a blocked write; closed only when the last
    // holder of the state goes, so it can never be a recycled descriptor when written.
    int wakeDescriptor = -1;
    std::atomic<bool> stopped{false};

    Mutex mutex;
    bool closed GUARDED_BY(mutex) = false;

    ~State()
    {
        if (descriptor >= 0)
            ::close(descriptor);
        if (wakeDescriptor >= 0)
            ::close(wakeDescriptor);
    }
};

ProcessWriter::ProcessWriter(int descriptor, std::shared_ptr<SerialQueue> queue)
    : state_(std::make_shared<State>()), queue_(std::move(queue))
{
    state_->descriptor = descriptor;
    const int flags = fcntl(descriptor, F_GETFL);
    if (flags >= 0)
        fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
    // Without an event descriptor a blocked write still notices a stop, by polling in short slices.
    state_->wakeDescriptor = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

ProcessWriter::~ProcessWriter()
{
    close(CloseMode::stop);
}

void ProcessWriter::write(std::vector<uint8_t> bytes, Completion completion)
{
    std::optional<SerialQueue::InlineTurn> turn;
    size_t written = 0;
    int error = 0;
    {
        // Decided under the state's lock, so that a write accepted before `close` goes before the
        // closing item, one refused after it cannot slip in ahead, and a write from another thread
        // cannot come between the part of this one written here and the rest queued after it.
        MutexLock lock(state_->mutex);
        if (state_->closed) {
            queue_->async([completion = std::move(completion)] { completion({ECANCELED, 0}); });
            return;
        }
        // A writer with nothing to do writes at once on the calling thread, as the queue's own
        // item: a keystroke then reaches the child without waiting for the queue's thread to
        // wake, which costs tens of microseconds and, on a busy machine, milliseconds.
        turn = queue_->inlineTurn();
        if (!turn) {
            queue_->async([state = state_, bytes = std::move(bytes), completion = std::move(completion)] {
                perform(*state, bytes, 0, completion);
            });
            return;
        }
        if (!writeWithoutWaiting(*state_, bytes, written, error)) {
            // The child is not reading and the terminal is full: the rest goes first in the
            // queue's line, where waiting for room holds up no caller.
            queue_->async(
                [state = state_, bytes = std::move(bytes), written, completion = std::move(completion)] {
                    perform(*state, bytes, written, completion);
                });
            return;
        }
    }
    // Outside the lock, still in the queue's turn: a completion may write again.
    if (completion)
        completion({error, written});
}

void ProcessWriter::close(CloseMode mode)
{
    MutexLock lock(state_->mutex);
    if (state_->closed)
        return;
    state_->closed = true;
    if (mode == CloseMode::stop) {
        state_->stopped.store(true);
        if (state_->wakeDescriptor >= 0) {
            const uint64_t one = 1;
            [[maybe_unused]] ssize_t ignored = ::write(state_->wakeDescriptor, &one, sizeof one);
        }
    }
    queue_->async([state = state_] {
        if (state->descriptor >= 0) {
            ::close(state->descriptor);
            state->descriptor = -1;
        }
    });
}

bool ProcessWriter::writeWithoutWaiting(State& state, const std::vector<uint8_t>& bytes, size_t& written,
                                        int& error)
{
    if (state.descriptor < 0 || state.stopped.load()) {
        error = ECANCELED;
        return true;
    }
    while (written < bytes.size()) {
        const ssize_t count = ::write(state.descriptor, bytes.data() + written, bytes.size() - written);
        if (count > 0) {
            written += static_cast<size_t>(count);
        } else if (count < 0 && errno == EINTR) {
            continue;
        } else if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return false;
        } else {
            error = count < 0 ? errno : EIO;
            return true;
        }
    }
    return true;
}

void ProcessWriter::perform(State& state, const std::vector<uint8_t>& bytes, size_t written,
                            const Completion& completion)
{
    int error = 0;
    // The child is not reading and the kernel's buffer is full: wait for room or a stop.
    while (!writeWithoutWaiting(state, bytes, written, error)) {
        error = waitUntilWritable(state);
        if (error != 0)
            break;
    }
    if (completion)
        completion({error, written});
}

int ProcessWriter::waitUntilWritable(State& state)
{
    for (;;) {
        if (state.stopped.load())
            return ECANCELED;
        pollfd entries[2] = {{state.descriptor, POLLOUT, 0}, {state.wakeDescriptor, POLLIN, 0}};
        const bool canBeWoken = state.wakeDescriptor >= 0;
        const int ready = poll(entries, canBeWoken ? 2 : 1, canBeWoken ? -1 : 50);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (state.stopped.load())
            return ECANCELED;
        const short results = entries[0].revents;
        if (results & POLLOUT)
            return 0;
        // Hang-up or error without room: another write would only answer EAGAIN again.
        if (results & POLLNVAL)
            return EBADF;
        if (results & (POLLERR | POLLHUP))
            return EIO;
    }
}

} // namespace platform
