// The terminal options, their initialisers and clamped limits, and the small value types hosts
// pass in: cursor styles, visibility, pixel geometry and the clipboard sets.
#include "Kestrovan/CursorStyle.h"
#include "Kestrovan/KittyClipboardTypes.h"
#include "Kestrovan/TerminalOptions.h"
#include "Kestrovan/TerminalVisibility.h"

#include <gtest/gtest.h>
#include <thread>
#include <unordered_set>
#include <vector>

using namespace kestrovan;

namespace {

using LocalMediaPolicy = KittyGraphicsConfiguration::LocalMediaPolicy;

TerminalOptions fullOptions(int maximumBidiParagraphRows)
{
    return TerminalOptions::make(
        132, 50, true, "vesk", CursorStyle::steadyBar, true, 1000, 4, false,
        KittyGraphicsConfiguration{1234, LocalMediaPolicy::sharedMemory, "/tmp/kitty"},
        Ansi256PaletteStrategy::xterm, RegionalIndicatorWidth::narrow,
        BidiPresentationState(BidiSupportMode::explicit_, false, BidiDirection::rightToLeft, true),
        maximumBidiParagraphRows, true, "features", 4096, KittyClipboardPolicy::read, 1000, 0, -1, false);
}

TerminalOptions shortOptions(int64_t kittyImageCacheLimitBytes, int maximumBidiParagraphRows = 500)
{
    return TerminalOptions::makeWithImageCacheLimit(
        100, 30, false, "xterm", CursorStyle::blinkBar, false, 10, 8, true, kittyImageCacheLimitBytes,
        Ansi256PaletteStrategy::base16LabHarmonious, RegionalIndicatorWidth::wide, BidiPresentationState(),
        maximumBidiParagraphRows, false, std::nullopt);
}

} // namespace

TEST(TerminalOptions, DefaultsAreFreshCopiesOnEveryThread)
{
    // Every read is a copy: changing one leaves the next untouched, also across threads.
    const TerminalOptions options = TerminalOptions::defaults();
    TerminalOptions changed = TerminalOptions::defaults();
    changed.cols = 3;
    changed.termName = "other";
    std::vector<TerminalOptions> seen(4);
    std::vector<std::thread> readers;
    for (auto& slot : seen)
        readers.emplace_back([&slot] { slot = TerminalOptions::defaults(); });
    for (auto& reader : readers)
        reader.join();
    EXPECT_NE(changed, options);
    for (const auto& copy : seen)
        EXPECT_EQ(copy, options);
    EXPECT_EQ(TerminalOptions::defaults(), TerminalOptions());
    EXPECT_EQ(options.kittyClipboardWriteLimitBytes(), 67'108'864) << "the floor of the write limit";
}

TEST(TerminalOptions, ClipboardLimitsAreClampedWhenRead)
{
    TerminalOptions options = TerminalOptions::defaults();
    options.setKittyClipboardWriteLimitBytes(1000);
    EXPECT_EQ(options.kittyClipboardWriteLimitBytes(), 67'108'864);
    EXPECT_EQ(options.storedKittyClipboardWriteLimitBytes, 1000) << "the stored value is kept as given";
    options.setKittyClipboardWriteLimitBytes(100'000'000);
    EXPECT_EQ(options.kittyClipboardWriteLimitBytes(), 100'000'000);

    for (int64_t tooFew : {0, -5}) {
        options.setKittyClipboardMaximumRepresentations(tooFew);
        EXPECT_EQ(options.kittyClipboardMaximumRepresentations(), 1) << "representations " << tooFew;
    }
    options.setKittyClipboardMaximumRepresentations(7);
    EXPECT_EQ(options.kittyClipboardMaximumRepresentations(), 7);

    options.setKittyClipboardMaximumAliases(-1);
    EXPECT_EQ(options.kittyClipboardMaximumAliases(), 0);
    options.setKittyClipboardMaximumAliases(0);
    EXPECT_EQ(options.kittyClipboardMaximumAliases(), 0);

    // A read-modify-write starts from the clamped reading.
    options.setKittyClipboardWriteLimitBytes(10);
    options.setKittyClipboardWriteLimitBytes(options.kittyClipboardWriteLimitBytes() + 1);
    EXPECT_EQ(options.kittyClipboardWriteLimitBytes(), 67'108'865);
}

TEST(TerminalOptions, ImageCacheLimitSaturatesIntoThirtyTwoBits)
{
    EXPECT_EQ(shortOptions(-1).kittyGraphics.storageLimitBytesPerScreen, 0u);
    TerminalOptions large = shortOptions(5'000'000'000);
    EXPECT_EQ(large.kittyGraphics.storageLimitBytesPerScreen, 4'294'967'295u);
    EXPECT_EQ(large.kittyImageCacheLimitBytes(), 4'294'967'295);
    EXPECT_EQ(shortOptions(4'294'967'296).kittyImageCacheLimitBytes(), 4'294'967'295);
    EXPECT_EQ(shortOptions(12345).kittyImageCacheLimitBytes(), 12345);

    TerminalOptions options = TerminalOptions::defaults();
    options.setKittyImageCacheLimitBytes(-20);
    EXPECT_EQ(options.kittyGraphics.storageLimitBytesPerScreen, 0u);
    options.setKittyImageCacheLimitBytes(int64_t(1) << 40);
    EXPECT_EQ(options.kittyImageCacheLimitBytes(), 4'294'967'295);
}

TEST(TerminalOptions, InitialisersStoreTheirArgumentsAndRaiseTheParagraphLength)
{
    // The positional initialisers: the ends of the argument list are where a swap would hide.
    TerminalOptions full = fullOptions(2);
    EXPECT_EQ(full.cols, 132);
    EXPECT_EQ(full.kittyGraphics,
              (KittyGraphicsConfiguration{1234, LocalMediaPolicy::sharedMemory, std::string("/tmp/kitty")}));
    EXPECT_EQ(full.initialBidiState.fallbackDirection, BidiDirection::rightToLeft);
    EXPECT_EQ(full.featureReport, "features");
    EXPECT_EQ(full.maximumOscBytes, 4096);
    EXPECT_EQ(full.kittyClipboardPolicy, KittyClipboardPolicy::read);
    EXPECT_FALSE(full.enableOsc8Hyperlinks) << "the last argument is the hyperlink switch";
    // The clipboard limits are stored raw and clamped only when read.
    EXPECT_EQ(full.storedKittyClipboardWriteLimitBytes, 1000);
    EXPECT_EQ(full.storedKittyClipboardMaximumRepresentations, 0);
    EXPECT_EQ(full.storedKittyClipboardMaximumAliases, -1);

    for (const auto& [given, stored] : {std::pair{2, 2}, {0, 1}, {-3, 1}})
        EXPECT_EQ(fullOptions(given).maximumBidiParagraphRows, stored) << given;
    EXPECT_EQ(shortOptions(1, 0).maximumBidiParagraphRows, 1);

    // The shorter form takes the rest from the defaults.
    TerminalOptions brief = shortOptions(100);
    EXPECT_EQ(brief.cols, 100);
    EXPECT_EQ(brief.ansi256PaletteStrategy, Ansi256PaletteStrategy::base16LabHarmonious);
    const TerminalOptions expected = TerminalOptions::defaults();
    EXPECT_EQ(brief.kittyGraphics.localMediaPolicy, expected.kittyGraphics.localMediaPolicy);
    EXPECT_EQ(brief.maximumOscBytes, expected.maximumOscBytes);
    EXPECT_EQ(brief.enableOsc8Hyperlinks, expected.enableOsc8Hyperlinks);
    EXPECT_EQ(brief.kittyClipboardPolicy, expected.kittyClipboardPolicy);
    EXPECT_EQ(brief.storedKittyClipboardMaximumAliases, expected.storedKittyClipboardMaximumAliases);
}

TEST(TerminalOptions, KittyGraphicsConfigurationComparesAllFields)
{
    const KittyGraphicsConfiguration base{100, LocalMediaPolicy::regularFiles, std::nullopt};
    EXPECT_EQ(base, (KittyGraphicsConfiguration{100, LocalMediaPolicy::regularFiles, std::nullopt}))
        << "two absent directories are equal";
    EXPECT_NE(base, (KittyGraphicsConfiguration{101, LocalMediaPolicy::regularFiles, std::nullopt}));
    EXPECT_NE(base, (KittyGraphicsConfiguration{100, LocalMediaPolicy::all, std::nullopt}));
    EXPECT_NE(base, (KittyGraphicsConfiguration{100, LocalMediaPolicy::regularFiles, std::string("/tmp")}));

    for (auto member :
         {LocalMediaPolicy::regularFiles, LocalMediaPolicy::temporaryFiles, LocalMediaPolicy::sharedMemory})
        EXPECT_TRUE(LocalMediaPolicy::all.contains(member)) << "member " << int(member.rawValue);
    LocalMediaPolicy policy = LocalMediaPolicy::regularFiles | LocalMediaPolicy::sharedMemory;
    EXPECT_FALSE(policy.contains(LocalMediaPolicy::temporaryFiles));
    EXPECT_EQ(LocalMediaPolicy::all.subtracting(policy), LocalMediaPolicy::temporaryFiles);
}

TEST(CursorStyle, NamesRoundTripExactly)
{
    ASSERT_EQ(allCursorStyles.size(), 6u);
    const char* const tags[] = {"blinkBlock",      "steadyBlock", "blinkUnderline",
                                "steadyUnderline", "blinkBar",    "steadyBar"};
    const char* const names[] = {"Blinking Block",   "Steady Block", "Blinking Underline",
                                 "Steady Underline", "Blinking Bar", "Steady Bar"};
    for (size_t index = 0; index < allCursorStyles.size(); ++index) {
        CursorStyle style = allCursorStyles[index];
        EXPECT_EQ(static_cast<size_t>(style), index) << "allCursorStyles is not in index order";
        EXPECT_EQ(tagName(style), tags[index]);
        EXPECT_EQ(displayName(style), names[index]);
        EXPECT_EQ(cursorStyleFromTagName(tags[index]), style);
    }
    EXPECT_EQ(cursorStyleFromTagName("steadyBar"), CursorStyle::steadyBar);
    for (const char* wrong : {"SteadyBar", "steadybar", "steady Bar", "steadyBar ", "", "Steady Bar"})
        EXPECT_EQ(cursorStyleFromTagName(wrong), std::nullopt) << "\"" << wrong << "\"";
}

TEST(TerminalVisibility, OnlyOneAndTwoAreVisibilities)
{
    EXPECT_EQ(terminalVisibilityFromRaw(1), TerminalVisibility::potentiallyVisible);
    EXPECT_EQ(terminalVisibilityFromRaw(2), TerminalVisibility::notVisible);
    for (int raw : {0, 3, -1})
        EXPECT_EQ(terminalVisibilityFromRaw(raw), std::nullopt) << "raw " << raw;
    std::unordered_set<TerminalVisibility> both{TerminalVisibility::potentiallyVisible,
                                                TerminalVisibility::notVisible,
                                                TerminalVisibility::notVisible};
    EXPECT_EQ(both.size(), 2u);

    const TerminalPixelGeometry geometry{24, 80, 9, 18};
    EXPECT_EQ(geometry, (TerminalPixelGeometry{24, 80, 9, 18}));
    EXPECT_NE(geometry, (TerminalPixelGeometry{24, 80, 9, 19})) << "cellHeight is part of equality";
    EXPECT_NE(geometry, (TerminalPixelGeometry{80, 24, 9, 18})) << "rows come before columns";
}

TEST(KittyClipboardTypes, SetsCombine)
{
    EXPECT_EQ(KittyClipboardPolicy::all, KittyClipboardPolicy::read | KittyClipboardPolicy::write);
    KittyClipboardCapabilities primary =
        KittyClipboardCapabilities::primaryRead | KittyClipboardCapabilities::primaryWrite;
    EXPECT_FALSE(primary.intersects(KittyClipboardCapabilities::standard));
    EXPECT_EQ(primary | KittyClipboardCapabilities::standard, KittyClipboardCapabilities::all);

    TerminalPasteRequest request;
    request.text = "";
    EXPECT_NE(request, TerminalPasteRequest()) << "empty text is not absent text";
}
