// Payload collection: giving back the payload codes (`TinyAtom`) that no cell uses any more.
//
// Cells only carry a 16-bit code, so the terminal cannot tell when the last cell of a hyperlink
// is overwritten. Instead the hyperlink code runs a collection when the codes it holds reach a
// threshold: every cell of both buffers is scanned, and the codes found nowhere are released in
// the process-wide atom table. The threshold then doubles with what is still held, so a program
// printing many links pays for one scan per doubling rather than one per link.
#include "Kestrovan/Terminal.h"

#include <algorithm>

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
}

} // namespace kestrovan
