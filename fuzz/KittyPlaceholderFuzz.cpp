// Unicode placeholders of kitty graphics: the cell decoder alone, and the visible placements a
// terminal's placeholder cells produce.
//
// The first input byte picks the variant (bit 0):
//   0  the decoder over a run of cells. Each cell takes four bytes: a scalar count (0-3 marks after
//      U+10EEEE, or a non-placeholder base when the count's bit 7 is set), then the marks as
//      indexes into the diacritic list (or, past it, as arbitrary code points), and colours from
//      the last byte. A decoded cell must keep its position and a high byte within 0-255.
//   1  a terminal with virtual placements: the bytes print placeholder cells, diacritics, colour
//      changes, line feeds and scrolls; then the visible pieces are computed for a cell size from
//      the next two bytes, and each must lie inside the viewport and have a positive size.
#include "tests/Kestrovan/RecordingTerminalDelegate.h"

#include "Kestrovan/Portable/KittyPlaceholderDecoder.h"
#include "Kestrovan/Portable/KittyPlaceholderPlacements.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/Utf8.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

using namespace kestrovan;

[[noreturn]] void fail(const char* reason)
{
    std::fprintf(stderr, "kitty placeholder fuzz: %s\n", reason);
    std::abort();
}

/// The diacritic of an index, or an unrelated mark past the list.
uint32_t markFor(uint8_t byte)
{
    static const std::vector<uint32_t> list = [] {
        std::vector<uint32_t> ordered(KittyPlaceholder::diacriticIndex().size());
        for (const auto& [code, index] : KittyPlaceholder::diacriticIndex())
            ordered[index] = code;
        return ordered;
    }();
    return byte < list.size() ? list[byte] : 0x0300 + byte;
}

Attribute::Color colorFor(uint8_t byte)
{
    switch (byte & 3) {
    case 0:
        return Attribute::Color::ansi256(byte);
    case 1:
        return Attribute::Color::trueColor(0, byte >> 4, byte);
    case 2:
        return Attribute::Color::defaultColor();
    default:
        return Attribute::Color::trueColor(byte, byte, byte);
    }
}

void runDecoder(std::span<const uint8_t> input)
{
    std::optional<KittyPlaceholderCell> previous;
    std::optional<Attribute> previousAttribute;
    int64_t col = 0;
    for (size_t at = 0; at + 4 <= input.size(); at += 4, ++col) {
        const uint8_t count = input[at];
        std::vector<uint32_t> scalars{count & 0x80 ? uint32_t{'x'}
                                                   : uint32_t{KittyPlaceholder::placeholderScalar}};
        for (int mark = 0; mark < (count & 3); ++mark)
            scalars.push_back(markFor(input[at + 1 + mark]));
        Attribute attribute;
        attribute.fg = colorFor(input[at + 3]);
        if (input[at + 3] & 0x40)
            attribute.underlineColor = colorFor(input[at + 2]);
        // Now and then a row break, which must stop inheritance.
        const int64_t row = (count & 0x40) ? 1 : 0;
        const auto cell =
            KittyPlaceholderDecoder::decode(scalars, attribute, row, col, previous, previousAttribute);
        if (cell && (cell->row != row || cell->col != col || cell->msb < 0 || cell->msb > 255 ||
                     cell->placeholderRow < 0 || cell->placeholderCol < 0))
            fail("a decoded cell out of range");
        previous = cell;
        previousAttribute = attribute;
    }
}

void runTerminal(std::span<const uint8_t> input)
{
    if (input.size() < 2)
        return;
    const double cellWidth = 1 + input[0] % 16;
    const double cellHeight = 1 + input[1] % 24;
    input = input.subspan(2);

    auto delegate = std::make_shared<testing::RecordingTerminalDelegate>();
    TerminalOptions options = TerminalOptions::defaults();
    options.cols = 16;
    options.rows = 5;
    options.scrollback = 4;
    std::shared_ptr<Terminal> terminal = Terminal::create(delegate, options);
    const TerminalUnsharedScope unshared(terminal->terminalLock());
    KittyAnimationClock clock = KittyAnimationClock::system();
    clock.schedule = [](uint64_t, std::function<void()>) {};
    terminal->setKittyAnimationClock(std::move(clock));
    // Three images with virtual placements of a few sizes, one of them cropped.
    terminal->feed("\x1b_Ga=T,U=1,i=1,f=24,s=3,v=2,c=4,r=3,q=2;////////////////////////\x1b\\");
    terminal->feed("\x1b_Ga=T,U=1,i=2,p=5,f=24,s=2,v=1,c=1,r=1,q=2;AAAAAAAA\x1b\\");
    terminal->feed("\x1b_Ga=T,U=1,i=300,f=24,s=1,v=3,x=0,y=1,c=2,r=2,q=2;AAAAAAAAAAAA\x1b\\");

    std::string text;
    for (const uint8_t byte : input) {
        switch (byte >> 5) {
        case 0:
        case 1:
            appendUtf8(text, KittyPlaceholder::placeholderScalar);
            break;
        case 2:
            appendUtf8(text, markFor(byte & 0x1F));
            break;
        case 3: // the foreground names image 1, 2 or 300, or something else
            text += (byte & 3) == 0   ? "\x1b[38;5;1m"
                    : (byte & 3) == 1 ? "\x1b[38;5;2m"
                    : (byte & 3) == 2 ? "\x1b[38;2;0;1;44m"
                                      : "\x1b[38;5;9m";
            break;
        case 4: // the underline colour names placement 5, or none
            text += (byte & 1) ? "\x1b[58;5;5m" : "\x1b[59m";
            break;
        case 5:
            text += "\r\n";
            break;
        case 6:
            text += (byte & 1) ? "\x1b[S" : "\x1b[T";
            break;
        default:
            text += static_cast<char>('a' + (byte & 7));
            break;
        }
    }
    terminal->feed(text);

    const KittyGraphicsRenderSnapshot snapshot = terminal->kittyGraphicsRenderSnapshot();
    const auto pieces = visibleKittyPlaceholderPlacements(*terminal, snapshot, cellWidth, cellHeight);
    const double width = cellWidth * terminal->cols();
    const double height = cellHeight * terminal->rows();
    for (const TerminalKittyPlaceholderPlacement& piece : pieces) {
        const TerminalKittyPlaceholderRect& to = piece.destination;
        if (!(to.width > 0) || !(to.height > 0) || to.x < 0 || to.y < 0 || to.x + to.width > width + 1e-6 ||
            to.y + to.height > height + 1e-6)
            fail("a piece outside the viewport or without a size");
        if (!(piece.source.width > 0) || !(piece.source.height > 0))
            fail("a piece with an empty source");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::span<const uint8_t> input(data + 1, size - 1);
    if (data[0] & 1)
        runTerminal(input);
    else
        runDecoder(input);
    return 0;
}
