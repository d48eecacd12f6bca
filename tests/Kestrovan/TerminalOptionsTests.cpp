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

TEST(TerminalOptions, DefaultsAreTheDocumentedValues)
{
    const TerminalOptions options = TerminalOptions::defaults();
    EXPECT_EQ(options.cols, 80);
    EXPECT_EQ(options.rows, 25);
    EXPECT_FALSE(options.convertEol);
    EXPECT_EQ(options.termName, "xterm-256color");
    EXPECT_EQ(options.cursorStyle, CursorStyle::blinkBlock);
    EXPECT_FALSE(options.screenReaderMode);
    EXPECT_EQ(options.scrollback, 500);
    EXPECT_EQ(options.tabStopWidth, 8);
    EXPECT_TRUE(options.enableSixelReported);
    EXPECT_EQ(options.kittyGraphics.storageLimitBytesPerScreen, 10'000'000u);
    EXPECT_TRUE(options.kittyGraphics.localMediaPolicy.isEmpty());
    EXPECT_FALSE(options.kittyGraphics.trustedTemporaryDirectory.has_value());
    EXPECT_EQ(options.ansi256PaletteStrategy, Ansi256PaletteStrategy::base16Lab);
    EXPECT_EQ(options.regionalIndicatorWidth, RegionalIndicatorWidth::wide);
    EXPECT_EQ(options.initialBidiState,
              BidiPresentationState(BidiSupportMode::implicit, true, BidiDirection::leftToRight, false));
    EXPECT_EQ(options.maximumBidiParagraphRows, 500);
    EXPECT_FALSE(options.initialBidiArrowKeySwap);
    EXPECT_FALSE(options.featureReport.has_value());
    EXPECT_EQ(options.maximumOscBytes, 68'157'440);
    EXPECT_TRUE(options.enableOsc8Hyperlinks);
    EXPECT_TRUE(options.kittyClipboardPolicy.isEmpty());
    EXPECT_EQ(options.kittyClipboardWriteLimitBytes(), 67'108'864);
    EXPECT_EQ(options.kittyClipboardMaximumRepresentations(), 256);
    EXPECT_EQ(options.kittyClipboardMaximumAliases(), 256);

    // Every read is a copy: changing one leaves the next untouched, also across threads.
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
    TerminalOptions full = fullOptions(2);
    EXPECT_EQ(full.cols, 132);
    EXPECT_EQ(full.rows, 50);
    EXPECT_TRUE(full.convertEol);
    EXPECT_EQ(full.termName, "vesk");
    EXPECT_EQ(full.cursorStyle, CursorStyle::steadyBar);
    EXPECT_TRUE(full.screenReaderMode);
    EXPECT_EQ(full.scrollback, 1000);
    EXPECT_EQ(full.tabStopWidth, 4);
    EXPECT_FALSE(full.enableSixelReported);
    EXPECT_EQ(full.kittyGraphics,
              (KittyGraphicsConfiguration{1234, LocalMediaPolicy::sharedMemory, std::string("/tmp/kitty")}));
    EXPECT_EQ(full.ansi256PaletteStrategy, Ansi256PaletteStrategy::xterm);
    EXPECT_EQ(full.regionalIndicatorWidth, RegionalIndicatorWidth::narrow);
    EXPECT_EQ(full.initialBidiState.fallbackDirection, BidiDirection::rightToLeft);
    EXPECT_EQ(full.maximumBidiParagraphRows, 2);
    EXPECT_TRUE(full.initialBidiArrowKeySwap);
    EXPECT_EQ(full.featureReport, "features");
    EXPECT_EQ(full.maximumOscBytes, 4096);
    EXPECT_EQ(full.kittyClipboardPolicy, KittyClipboardPolicy::read);
    EXPECT_FALSE(full.enableOsc8Hyperlinks) << "the last argument is the hyperlink switch";
    // The clipboard limits are stored raw and clamped only when read.
    EXPECT_EQ(full.storedKittyClipboardWriteLimitBytes, 1000);
    EXPECT_EQ(full.storedKittyClipboardMaximumRepresentations, 0);
    EXPECT_EQ(full.storedKittyClipboardMaximumAliases, -1);
    EXPECT_EQ(full.kittyClipboardWriteLimitBytes(), 67'108'864);

    EXPECT_EQ(fullOptions(0).maximumBidiParagraphRows, 1);
    EXPECT_EQ(fullOptions(-3).maximumBidiParagraphRows, 1);
    EXPECT_EQ(shortOptions(1, 0).maximumBidiParagraphRows, 1);
    EXPECT_EQ(shortOptions(1, 9).maximumBidiParagraphRows, 9);

    // The shorter form takes the rest from the defaults, with the clipboard limits stored clamped.
    TerminalOptions brief = shortOptions(100);
    EXPECT_EQ(brief.cols, 100);
    EXPECT_EQ(brief.ansi256PaletteStrategy, Ansi256PaletteStrategy::base16LabHarmonious);
    EXPECT_TRUE(brief.kittyGraphics.localMediaPolicy.isEmpty());
    EXPECT_FALSE(brief.kittyGraphics.trustedTemporaryDirectory.has_value());
    EXPECT_EQ(brief.maximumOscBytes, 68'157'440);
    EXPECT_TRUE(brief.enableOsc8Hyperlinks);
    EXPECT_TRUE(brief.kittyClipboardPolicy.isEmpty());
    EXPECT_EQ(brief.storedKittyClipboardWriteLimitBytes, 67'108'864);
    EXPECT_EQ(brief.storedKittyClipboardMaximumRepresentations, 256);
    EXPECT_EQ(brief.storedKittyClipboardMaximumAliases, 256);
}

TEST(TerminalOptions, KittyGraphicsConfigurationComparesAllFields)
{
    const KittyGraphicsConfiguration base{100, LocalMediaPolicy::regularFiles, std::nullopt};
    EXPECT_EQ(base, (KittyGraphicsConfiguration{100, LocalMediaPolicy::regularFiles, std::nullopt}))
        << "two absent directories are equal";
    EXPECT_NE(base, (KittyGraphicsConfiguration{101, LocalMediaPolicy::regularFiles, std::nullopt}));
    EXPECT_NE(base, (KittyGraphicsConfiguration{100, LocalMediaPolicy::all, std::nullopt}));
    EXPECT_NE(base, (KittyGraphicsConfiguration{100, LocalMediaPolicy::regularFiles, std::string("/tmp")}));

    EXPECT_EQ(LocalMediaPolicy::all.rawValue, 7);
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

TEST(KittyClipboardTypes, SetsHaveTheirProtocolValues)
{
    EXPECT_EQ(KittyClipboardPolicy::read.rawValue, 1);
    EXPECT_EQ(KittyClipboardPolicy::write.rawValue, 2);
    EXPECT_EQ(KittyClipboardPolicy::all, KittyClipboardPolicy::read | KittyClipboardPolicy::write);
    EXPECT_EQ(KittyClipboardCapabilities::standard,
              KittyClipboardCapabilities::standardRead | KittyClipboardCapabilities::standardWrite);
    EXPECT_EQ(KittyClipboardCapabilities::standard.rawValue, 3);
    EXPECT_EQ(KittyClipboardCapabilities::all.rawValue, 15);
    KittyClipboardCapabilities primary =
        KittyClipboardCapabilities::primaryRead | KittyClipboardCapabilities::primaryWrite;
    EXPECT_FALSE(primary.intersects(KittyClipboardCapabilities::standard));
    EXPECT_EQ(primary | KittyClipboardCapabilities::standard, KittyClipboardCapabilities::all);

    TerminalPasteRequest request;
    EXPECT_FALSE(request.text.has_value());
    EXPECT_FALSE(request.snapshot.has_value());
    request.text = "";
    EXPECT_NE(request, TerminalPasteRequest()) << "empty text is not absent text";
}
