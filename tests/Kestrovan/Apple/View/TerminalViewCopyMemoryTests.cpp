// Copying a large selection: the text is made once and handed to the clipboard, which keeps that
// one string, so the copy never holds much more than the text it copies.
//
// This binary's global allocation functions are the counting ones (CountingAllocator.h), which
// follow the bytes the process holds and their peak.
#include "CountingAllocator.h"
#include "TerminalViewTestSupport.h"

#include "Kestrovan/SelectionService.h"

namespace kestrovan {
namespace {

using testing::ViewFixture;

TerminalOptions withScrollback(int lines)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.scrollback = lines;
    return options;
}

TEST(TerminalViewCopyMemoryTests, CopyingALargeSelectionHoldsItsTextAboutOnce)
{
    constexpr int lines = 20000;
    ViewFixture f(withScrollback(lines));
    std::string output;
    for (int line = 0; line < lines; ++line) {
        std::string text = "copied line " + std::to_string(line) + " \xc3\xa9 ";
        text.resize(76, char('a' + line % 26));
        output += text + "\r\n";
    }
    f.feed(output);
    f.view->selectAll();

    const int64_t before = counting::bytesHeld();
    counting::resetPeakHeld();
    f.view->copy();
    const int64_t peak = counting::peakBytesHeld() - before;
    const int64_t kept = counting::bytesHeld() - before;

    const std::optional<std::vector<uint8_t>> copied = f.host->standardClipboard.contents("text/plain");
    ASSERT_TRUE(copied);
    const auto size = int64_t(copied->size());
    EXPECT_GT(size, int64_t(lines) * 76);
    EXPECT_EQ(std::string(copied->begin(), copied->begin() + 17), "copied line 0 \xc3\xa9 ");
    // Both plain-text formats share the one string the view handed over.
    EXPECT_LT(kept, size * 11 / 10 + (64 << 10)) << "the clipboard keeps " << kept << " bytes";
    EXPECT_LT(peak, size * 12 / 10 + (64 << 10))
        << "at its peak the copy held " << peak << " bytes for " << size << " bytes of text";
}

} // namespace
} // namespace kestrovan
