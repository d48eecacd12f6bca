// Kitty graphics: the APC G key parser, payload decoding (base64, zlib, raw pixels and PNG) and the
// whole command set run against a terminal.
//
// The first input byte picks the variant (bits 0-2); the rest is its input:
//   0  the key parser alone, on one APC body; parsing twice must give the same keys.
//   1  the direct medium: the body's keys and payload through the loader, with a small quota.
//   2  zlib framing and inflate, with an output limit from the next two bytes.
//   3  PNG decoding; a decoded image must hold width x height x 4 bytes.
//   4-7  a session: the input is cut at NUL bytes into pieces; a piece whose first byte is odd is
//      sent as an APC G body (its first byte dropped; with bit 7 set as well, sent 32 times the
//      value of bits 1-6, so that images without ids, anonymous placements and frames pile up), an
//      even one as plain output (text, line feeds, scroll and erase sequences, screen switches).
//      Bits 1-2 of the selector pick the host's cell size and 8-bit replies. After the session the
//      render snapshot must be sorted and refer only to stored images, every reply must be one
//      well-formed APC string, and each screen's byte totals must match its records and stay
//      within the quota.
// Local media stay off (the default), so nothing here touches the file system.
#include "tests/Kestrovan/RecordingTerminalDelegate.h"
#include "tests/Kestrovan/TerminalTestAccess.h"

#include "Kestrovan/KittyGraphicsControl.h"
#include "Kestrovan/KittyGraphicsEngine.h"
#include "Kestrovan/KittyGraphicsPayload.h"
#include "Kestrovan/KittyGraphicsZlib.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalInnerState.h"

#include <cstdio>
#include <cstdlib>

namespace {

using namespace kestrovan;

[[noreturn]] void fail(const char* reason)
{
    std::fprintf(stderr, "kitty graphics fuzz: %s\n", reason);
    std::abort();
}

/// A host that reports a cell size, so placements derive their size from pixels.
class CellSizeDelegate : public testing::RecordingTerminalDelegate
{
public:
    std::optional<CellPixelSize> cellSize;
    std::optional<CellPixelSize> cellSizeInPixels(Terminal&) override { return cellSize; }
};

void checkReplies(const std::vector<std::vector<uint8_t>>& sends)
{
    for (const std::vector<uint8_t>& reply : sends) {
        // Only kitty replies can come from APC G; other output may answer device queries.
        const bool seven = reply.size() >= 5 && reply[0] == 0x1B && reply[1] == '_';
        const bool eight = reply.size() >= 3 && reply[0] == 0x9F;
        if (!seven && !eight)
            continue;
        const size_t start = seven ? 2 : 1;
        const size_t end = seven ? reply.size() - 2 : reply.size() - 1;
        if (seven && (reply[reply.size() - 2] != 0x1B || reply.back() != '\\'))
            fail("a 7-bit reply without ST");
        if (eight && reply.back() != 0x9C)
            fail("an 8-bit reply without ST");
        if (reply[start] != 'G')
            fail("a reply that is not a kitty graphics answer");
        for (size_t index = start; index < end; ++index) {
            if (reply[index] < 0x20 || reply[index] > 0x7E)
                fail("a control or non-ASCII byte inside a reply");
        }
    }
}

void runSession(std::span<const uint8_t> input, uint8_t selector)
{
    auto delegate = std::make_shared<CellSizeDelegate>();
    if (selector & 0x02)
        delegate->cellSize = CellPixelSize{7, 15};
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 20;
    options.rows = 6;
    options.scrollback = 8;
    // A small quota keeps every image small and makes eviction happen often.
    options.kittyGraphics.storageLimitBytesPerScreen = 200'000;
    std::shared_ptr<Terminal> terminal = Terminal::create(delegate, options);
    const TerminalUnsharedScope unshared(terminal->terminalLock());
    // Timers are recorded and dropped: a session must not leave work on the shared queue.
    uint64_t now = 1'000'000'000;
    terminal->setKittyAnimationClock(
        {[&now] { return now += 16'000'000; }, [](uint64_t, std::function<void()>) {}});
    if (selector & 0x04)
        terminal->feed("\x1b G");

    size_t start = 0;
    while (start < input.size()) {
        size_t end = start;
        while (end < input.size() && input[end] != 0)
            ++end;
        const std::span<const uint8_t> piece = input.subspan(start, end - start);
        start = end + 1;
        if (piece.empty())
            continue;
        if (piece[0] & 1) {
            // Straight to the entry point, as the parser hands on an APC: the bytes need no escaping
            // to reach it whole.
            const int repeats = (piece[0] & 0x80) ? 32 * ((piece[0] >> 1) & 0x3F) : 1;
            for (int repeat = 0; repeat < repeats; ++repeat)
                TerminalTestAccess::parserListener(*terminal).dispatchApc('G', piece.subspan(1));
        } else {
            terminal->feed(piece.subspan(1));
        }
        KittyGraphicsEngine(*terminal).kittyGraphicsAdvanceAnimations(now);
    }

    const KittyGraphicsRenderSnapshot snapshot = terminal->kittyGraphicsRenderSnapshot();
    for (size_t index = 0; index < snapshot.placements.size(); ++index) {
        const KittyGraphicsRenderPlacement& placement = snapshot.placements[index];
        const auto image = snapshot.imagesById.find(placement.imageId);
        if (image == snapshot.imagesById.end())
            fail("a placement of an image the snapshot does not hold");
        if (image->second.pixels().size() !=
            static_cast<size_t>(image->second.width * image->second.height * 4))
            fail("an image whose bytes do not match its size");
        if (index > 0) {
            const KittyGraphicsRenderPlacement& before = snapshot.placements[index - 1];
            if (before.zIndex > placement.zIndex ||
                (before.zIndex == placement.zIndex && before.insertionOrder >= placement.insertionOrder))
                fail("placements out of drawing order");
        }
    }
    const KittyGraphicsState& state = *terminal->innerState().kittyGraphics;
    for (const KittyGraphicsScreenState* screen : {&state.primary, &state.alternate}) {
        int64_t total = 0;
        int64_t bookkeeping =
            int64_t(screen->placementsByKey.size()) * KittyGraphicsBookkeeping::placementBytes;
        for (const auto& [id, image] : screen->imagesById) {
            total += image.byteSize;
            bookkeeping += KittyGraphicsBookkeeping::imageBytes;
            if (image.animation)
                bookkeeping +=
                    int64_t(image.animation->frames.size() - 1) * KittyGraphicsBookkeeping::frameBytes;
        }
        if (total != screen->totalImageBytes)
            fail("the byte total differs from the images' sizes");
        if (bookkeeping != screen->bookkeepingBytes)
            fail("the bookkeeping total differs from the records");
        if (screen->chargedBytes() > options.kittyGraphics.storageLimitBytesPerScreen)
            fail("the store holds more than its quota");
    }
    checkReplies(delegate->sends);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t selector = data[0];
    const std::span<const uint8_t> input(data + 1, size - 1);
    switch (selector & 0x07) {
    case 0: {
        const auto first = parseKittyGraphicsControl(input);
        const auto second = parseKittyGraphicsControl(input);
        if (first.has_value() != second.has_value() || (first && first->first != second->first))
            fail("parsing is not deterministic");
        return 0;
    }
    case 1: {
        const auto parsed = parseKittyGraphicsControl(input);
        if (!parsed)
            return 0;
        KittyGraphicsConfiguration configuration;
        configuration.storageLimitBytesPerScreen = 1'000'000;
        const KittyPayloadResult result =
            loadKittyPayload(parsed->first, parsed->second, configuration,
                             (selector & 0x08) ? std::optional<int64_t>(250'000) : std::nullopt);
        if (result.payload.has_value() == result.error.has_value())
            fail("the loader gave both an image and an error, or neither");
        if (result.payload && result.payload->rgba().size() !=
                                  static_cast<size_t>(result.payload->width * result.payload->height * 4))
            fail("a decoded image whose bytes do not match its size");
        return 0;
    }
    case 2: {
        if (input.size() < 2)
            return 0;
        const int64_t limit = (int64_t{input[0]} << 8 | input[1]) * 64;
        const auto inflated = decompressZlib(input.subspan(2), limit);
        if (inflated && (inflated->empty() || static_cast<int64_t>(inflated->size()) > limit))
            fail("inflated output outside 1 ... limit");
        return 0;
    }
    case 3: {
        const auto image = decodePngToRgba(input);
        if (image && image->rgba().size() != static_cast<size_t>(image->width * image->height * 4))
            fail("a decoded PNG whose bytes do not match its size");
        return 0;
    }
    default:
        runSession(input, selector);
        return 0;
    }
}
