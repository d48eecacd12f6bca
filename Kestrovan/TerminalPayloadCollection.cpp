// Payload collection: giving back the payload codes (`TinyAtom`) that no cell uses any more, and
// making room for new links when there are no codes to give back.
//
// Cells only carry a 16-bit code, so the terminal cannot tell when the last cell of a hyperlink
// is overwritten. Instead the hyperlink code runs a collection when the codes it holds reach a
// threshold: every cell of both buffers is scanned, and the codes found nowhere are released in
// the process-wide atom table. The threshold then doubles with what is still held, so a program
// printing many links pays for one scan per doubling rather than one per link.
//
// New output wins over old: when a terminal holds as many codes or as much link text as it may,
// or the process-wide table is full, the oldest rows give up their links (their text stays) so
// that what is printed now links: the scrollback's first, then the screens'. Codes are taken
// from the terminals holding the most, so no terminal, nor several together, can leave another
// without links: every live terminal is on a list, and one whose link finds the table full has
// the largest holders drop their oldest links. It only tries their locks, never waits for one,
// so two terminals doing this at once cannot deadlock; a holder busy at that moment is passed
// over.
//
// Busy holders may be busy at every try, so the table's last free codes are left to terminals
// that hold little of it: one holding more makes room among its own or larger holders' links
// instead of taking them. A quiet terminal beside busy ones then finds free codes without any
// lock, and when it finds none it asks again at its next link rather than after the 256 links a
// terminal holding more waits.
#include "Kestrovan/Terminal.h"
#include "Platform/Sync/Mutex.h"

#include <algorithm>
#include <atomic>
#include <utility>
#include <vector>

namespace kestrovan {

namespace {

/// Marks the payload codes of every cell of every line slot of `buffer`. Slots past the ring's
/// count are scanned too: a ring that grows again shows the lines still standing there.
void markPayloadCodes(const Buffer& buffer, PayloadState::CodeBits& inUse)
{
    const CircularBufferLineList& ring = buffer.lines();
    for (int slot = 0; slot < ring.slotCount(); ++slot) {
        const CircularBufferLineList::ConstLinePointer line = ring.lineIfPresent(slot);
        if (!line)
            continue;
        const PackedCell* cells = line->cells();
        const int count = line->count();
        for (int col = 0; col < count; ++col) {
            const uint64_t payload = cells[col].rawValue & PackedCell::payloadMask;
            if (payload == 0)
                continue;
            const uint16_t code = static_cast<uint16_t>(payload >> PackedCell::payloadShift);
            inUse[code / 64] |= uint64_t{1} << (code % 64);
        }
    }
}

} // namespace

void Terminal::garbageCollectPayload()
{
    if (payloads_.count == 0)
        return;

    PayloadState::CodeBits inUse{};
    // The open link's code is in use even before (or after) any cell carries it.
    if (activeHyperlink_ && activeHyperlink_->kind == ActiveHyperlink::Case::resolved) {
        const uint16_t code = activeHyperlink_->atom.code;
        inUse[code / 64] |= uint64_t{1} << (code % 64);
    }
    markPayloadCodes(*normalBuffer_, inUse);
    markPayloadCodes(*altBuffer_, inUse);

    const std::vector<uint16_t> freed = payloads_.release(inUse);
    // One acquisition of the atom table's lock for the whole batch.
    if (!freed.empty())
        TinyAtom::release(freed);

    payloads_.collectAtCount = std::max(2 * payloads_.count, 1024);
    publishHeldCodeCount();
}

namespace {

/// Every live terminal. Leaked on purpose: terminals may outlive the static destructors.
struct PayloadHolders
{
    platform::Mutex mutex;
    std::vector<Terminal*> terminals GUARDED_BY(mutex);
    /// The size of `terminals`, read without the mutex.
    std::atomic<int> live{0};
};

PayloadHolders& payloadHolders()
{
    static PayloadHolders* holders = new PayloadHolders;
    return *holders;
}

/// The process-wide table split evenly among the live terminals.
int sharedTableShare()
{
    return TinyAtom::maximumCode / std::max(payloadHolders().live.load(std::memory_order_relaxed), 1);
}

} // namespace

void Terminal::joinPayloadHolders()
{
    PayloadHolders& holders = payloadHolders();
    platform::MutexLock guard(holders.mutex);
    holders.terminals.push_back(this);
    holders.live.store(static_cast<int>(holders.terminals.size()), std::memory_order_relaxed);
}

void Terminal::leavePayloadHolders()
{
    // Waits for a terminal that is taking codes from this one to finish.
    PayloadHolders& holders = payloadHolders();
    platform::MutexLock guard(holders.mutex);
    std::erase(holders.terminals, this);
    holders.live.store(static_cast<int>(holders.terminals.size()), std::memory_order_relaxed);
}

bool Terminal::makeRoomForLink(size_t textBytes)
{
    if (!payloads_.hasRoomFor(textBytes))
        return dropOldestLinks() > 0;
    return reclaimSharedLinkCodes();
}

int Terminal::dropOldestLinks()
{
    if (payloads_.count == 0)
        return 0;
    // A quarter, so that the links after this one find room for a while before the next drop.
    const int codesWanted = std::max(payloads_.count / 4, 1);
    const size_t bytesWanted = payloads_.heldTextBytes / 4;
    // The open link keeps its code, so that its cells printed so far stay one link with the rest.
    const uint16_t openCode = activeHyperlink_ && activeHyperlink_->kind == ActiveHyperlink::Case::resolved
                                  ? activeHyperlink_->atom.code
                                  : 0;
    PayloadState::CodeBits taken{};
    int codesTaken = 0;
    size_t bytesTaken = 0;
    const auto enough = [&] { return codesTaken >= codesWanted && bytesTaken >= bytesWanted; };
    const auto dropLinks = [&](BufferLine& line) REQUIRES(terminalLock_) {
        // Blank tails never carry a code (erasing takes no link), so only the cells change.
        PackedCell* cells = line.mutableCells();
        bool changed = false;
        for (int col = 0; col < line.count(); ++col) {
            // Most cells carry no link: one test of the packed bits passes them.
            if ((cells[col].rawValue & PackedCell::payloadMask) == 0)
                continue;
            const uint16_t code = cells[col].payloadCode();
            if (code == openCode)
                continue;
            cells[col].rawValue &= ~PackedCell::payloadMask;
            changed = true;
            uint64_t& word = taken[code / 64];
            const uint64_t bit = uint64_t{1} << (code % 64);
            if (word & bit)
                continue;
            word |= bit;
            ++codesTaken;
            if (code < payloads_.textBytesByCode.size())
                bytesTaken += payloads_.textBytesByCode[code];
        }
        if (changed)
            line.markLinksRemoved();
        return changed;
    };
    // Rows `from` ..< `to` of a buffer's ring, first to last; a row in view that changed is drawn
    // again, on the screen or where the user has scrolled back to.
    const auto dropRows = [&](Buffer& buffer, int from, int to) REQUIRES(terminalLock_) {
        CircularBufferLineList& ring = buffer.lines();
        const bool shown = &buffer == _buffer.get();
        for (int row = from; row < to && !enough(); ++row) {
            const CircularBufferLineList::LinePointer& line = ring.lineIfPresent(row);
            if (line && dropLinks(*line) && shown && row >= buffer.yDisp() && row < buffer.yDisp() + _rows)
                updateRange(row - buffer.yDisp());
        }
    };

    Buffer& normal = *normalBuffer_;
    Buffer& alternate = *altBuffer_;
    // Lines left in slots past a ring's count show nowhere; then the scrollback, oldest first;
    // then the screen not in use, and last the one in use, each from its top row down.
    dropRows(normal, normal.lines().count(), normal.lines().slotCount());
    dropRows(alternate, alternate.lines().count(), alternate.lines().slotCount());
    const int scrollback = std::min(normal.yBase(), normal.lines().count());
    dropRows(normal, 0, scrollback);
    if (_buffer == altBuffer_)
        dropRows(normal, scrollback, normal.lines().count());
    dropRows(alternate, 0, alternate.lines().count());
    if (_buffer != altBuffer_)
        dropRows(normal, scrollback, normal.lines().count());

    const int held = payloads_.count;
    garbageCollectPayload();
    return held - payloads_.count;
}

bool Terminal::askLargerHolders()
{
    PayloadHolders& holders = payloadHolders();
    platform::MutexLock guard(holders.mutex);
    std::vector<std::pair<int, Terminal*>> larger;
    for (Terminal* other : holders.terminals) {
        const int held = other->heldCodeCountForOthers_.load(std::memory_order_relaxed);
        if (other != this && held > payloads_.count)
            larger.emplace_back(held, other);
    }
    std::sort(larger.begin(), larger.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [held, other] : larger) {
        // Only tried: waiting here, holding this terminal's lock, could deadlock with one doing
        // the same the other way round.
        ++payloads_.holdersTried;
        if (!other->terminalLock_.tryLock())
            continue;
        const int freed = other->dropOldestLinks();
        other->terminalLock_.unlock();
        if (freed > 0)
            return true;
    }
    return false;
}

bool Terminal::reclaimSharedLinkCodes()
{
    return askLargerHolders() || dropOldestLinks() > 0;
}

bool Terminal::holdsLittleOfSharedTable() const
{
    return payloads_.count < sharedTableShare() / 4;
}

bool Terminal::leaveSharedReserve()
{
    if (payloads_.count >= sharedTableShare())
        return dropOldestLinks() > 0;
    return reclaimSharedLinkCodes();
}

} // namespace kestrovan
