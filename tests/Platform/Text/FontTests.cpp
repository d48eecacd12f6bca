#include "SpecialFiles.h"
#include "TemporaryFolder.h"
#include "TextTestFonts.h"
#include "WithoutWaiting.h"

#include "Platform/Text/Font.h"
#include "Platform/Text/FontRegistry.h"
#include "Platform/Text/FontSet.h"

#include <cmath>
#include <gtest/gtest.h>

using namespace platform;

namespace {

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

TEST(FontTests, TerminalFontLoadsFromTheBundleWithItsFourStyles)
{
    FontRef regular = textfonts::terminalFont();
    ASSERT_TRUE(regular);
    // An installed copy of the same font exists on the test machines; the bundled one must win.
    EXPECT_TRUE(startsWith(regular->filePath(), VESK_BUNDLE_DIR)) << regular->filePath();
    EXPECT_EQ(regular->postScriptName(), "JetBrainsMono-Regular");
    EXPECT_EQ(regular->familyName(), "JetBrains Mono");
    EXPECT_TRUE(regular->isMonospace());
    EXPECT_FALSE(regular->isColor());

    // Registering again is harmless.
    EXPECT_TRUE(FontRegistry::registerFile(textfonts::bundleFontPath("Regular")));

    const FontSet set = FontSet::fromNormal(regular);
    const struct
    {
        const FontRef& font;
        const char* file;
        FontTraits traits;
    } styles[] = {{set.normal, "Regular", {false, false}},
                  {set.bold, "Bold", {true, false}},
                  {set.italic, "Italic", {false, true}},
                  {set.boldItalic, "BoldItalic", {true, true}}};
    for (const auto& style : styles) {
        ASSERT_TRUE(style.font) << style.file;
        EXPECT_EQ(style.font->filePath(), textfonts::bundleFontPath(style.file));
        EXPECT_EQ(style.font->traits(), style.traits) << style.file;
        EXPECT_EQ(style.font->pointSize(), 16);
        EXPECT_TRUE(set.contains(*style.font));
        EXPECT_EQ(set.font(style.traits), style.font);
    }
    // Containment is by face and size, not by object.
    EXPECT_TRUE(set.contains(*Font::named("JetBrainsMono-Bold", 16)));
    EXPECT_FALSE(set.contains(*regular->withSize(17)));
}

TEST(FontTests, AFontPathNamingNoRegularFileIsRefusedNotWaitedOn)
{
    TemporaryFolder folder;
    const std::string font = textfonts::bundleFontPath("Regular");
    for (Thing thing : {Thing::fifo, Thing::directory, Thing::linkLoop, Thing::socket, Thing::nothing}) {
        const std::string path = folder / nameOf(thing);
        BoundSocket socket;
        plant(thing, path, "", socket);
        const auto opened =
            withoutWaitingOn<bool>(path, [&] { return Font::fromFile(path, 0, 12) != nullptr; });
        EXPECT_EQ(opened, false) << nameOf(thing);
    }
    // A link to a font file is followed.
    std::filesystem::create_symlink(font, folder / "link.ttf");
    const FontRef linked = Font::fromFile(folder / "link.ttf", 0, 12);
    ASSERT_TRUE(linked);
    EXPECT_TRUE(linked->hasGlyph(U'W'));
}

TEST(FontTests, MissingFontsFallBackToTheSystemMonospacedFont)
{
    EXPECT_FALSE(FontRegistry::registerFile("/nonexistent/Vesk_Vesk.bundle/Fonts/JetBrainsMono-Regular.ttf"));
    // A file that is not a font is refused too.
    EXPECT_FALSE(
        FontRegistry::registerFile(std::string(KESTROVAN_TEST_DATA_DIR) + "/unicode/GraphemeBreakTest.txt"));
    EXPECT_FALSE(Font::named("VeskMissingFont-Regular", 16));
    EXPECT_FALSE(Font::named("", 16));

    FontRef fallback = Font::named("VeskMissingFont-Regular", 16);
    if (!fallback)
        fallback = Font::monospace(16);
    ASSERT_TRUE(fallback);
    EXPECT_TRUE(fallback->isMonospace()) << fallback->familyName();
    EXPECT_TRUE(fallback->hasGlyph(U'W'));
    // A family name finds the family's regular face.
    FontRef byFamily = Font::named("DejaVu Sans Mono", 12);
    ASSERT_TRUE(byFamily);
    EXPECT_EQ(byFamily->traits(), FontTraits{});

    // A family without italic keeps its regular face in that slot rather than leave it empty.
    FontRef symbols = Font::named("Noto Color Emoji", 16);
    ASSERT_TRUE(symbols);
    const FontSet set = FontSet::fromNormal(symbols);
    EXPECT_EQ(set.italic, symbols);
    EXPECT_EQ(set.boldItalic, symbols);
    EXPECT_TRUE(FontSet::fromNormal(nullptr).normal == nullptr);
}

TEST(FontTests, FixedPitchIsDecidedByTheFacesOwnAdvances)
{
    textfonts::terminalFont();
    const struct
    {
        const char* name;
        bool monospace;
    } faces[] = {
        {"JetBrainsMono-Regular", true},
        {"DejaVu Sans Mono", true},
        // Fontconfig gives this face no spacing (its CJK characters are twice as wide); its ASCII
        // characters share one advance, as Noto Sans Mono's do, so a terminal may use it.
        {"Noto Sans Mono CJK JP", true},
        {"DejaVu Sans", false},
        {"Noto Sans", false},
        {"Noto Serif", false},
        // No letters at all, but fontconfig marks it fixed-pitch (every glyph one width): that stands.
        {"Noto Color Emoji", true},
    };
    for (const auto& face : faces) {
        FontRef font = Font::named(face.name, 16);
        ASSERT_TRUE(font) << face.name;
        EXPECT_EQ(font->isMonospace(), face.monospace) << face.name;
        EXPECT_EQ(font->withSize(9)->isMonospace(), face.monospace) << face.name << " at another size";
    }
}

TEST(FontTests, AFamilyWithoutItalicFacesSlantsItsUprightOnes)
{
    // The tests' fonts hold DejaVu Sans Mono's book and bold faces only; fontconfig's rules slant an
    // upright face answering an italic request by 0.2.
    FontRef regular = Font::named("DejaVu Sans Mono", 16);
    ASSERT_TRUE(regular);
    const FontSet set = FontSet::fromNormal(regular);
    const struct
    {
        const FontRef& font;
        const char* style;
        FontTraits traits;
        double shear;
    } styles[] = {{set.normal, "Book", {false, false}, 0},
                  {set.bold, "Bold", {true, false}, 0},
                  {set.italic, "Book", {false, true}, 0.2},
                  {set.boldItalic, "Bold", {true, true}, 0.2}};
    for (const auto& style : styles) {
        SCOPED_TRACE(std::string(style.style) + (style.traits.italic ? " slanted" : ""));
        ASSERT_TRUE(style.font);
        EXPECT_EQ(style.font->styleName(), style.style) << "the face drawn";
        EXPECT_EQ(style.font->traits(), style.traits) << "as it draws";
        EXPECT_EQ(style.font->isItalic(), style.traits.italic);
        EXPECT_NEAR(style.font->obliqueShear(), style.shear, 1e-6);
        EXPECT_EQ(style.font->withSize(20)->obliqueShear(), style.font->obliqueShear())
            << "kept at a new size";
        // Any style of the set reaches any other.
        for (const auto& other : styles)
            EXPECT_TRUE(style.font->withTraits(other.traits)->isSameFont(*other.font)) << other.style;
    }
    // The slanted font is the upright face, yet another font: caches keyed by font value keep them apart.
    EXPECT_EQ(set.italic->filePath(), regular->filePath());
    EXPECT_FALSE(set.italic->isSameFont(*regular));
    EXPECT_NE(set.italic->valueHash(), regular->valueHash());
    EXPECT_EQ(set.italic->advance(*set.italic->glyph(U'W')), regular->advance(*regular->glyph(U'W')))
        << "a slant moves no pen";

    // A family with italic faces uses them as they are.
    const FontSet jetBrains = FontSet::fromNormal(textfonts::terminalFont());
    for (const FontRef* font : {&jetBrains.italic, &jetBrains.boldItalic}) {
        EXPECT_EQ((*font)->obliqueShear(), 0) << (*font)->styleName();
        EXPECT_TRUE((*font)->isItalic());
    }
}

TEST(FontTests, MetricsAndGlyphGeometryScaleWithSizeInAYUpFrame)
{
    FontRef font = textfonts::terminalFont(16);
    ASSERT_TRUE(font);
    const FontMetrics& m = font->metrics();
    EXPECT_GT(m.ascent, 10);
    EXPECT_GT(m.descent, 2);
    EXPECT_GE(m.leading, 0);
    EXPECT_LT(m.underlinePosition, 0) << "below the baseline, y-up";
    EXPECT_GT(m.underlineThickness, 0);
    EXPECT_GT(m.capHeight, m.xHeight);
    EXPECT_GT(m.xHeight, 0);

    FontRef twice = font->withSize(32);
    EXPECT_NEAR(twice->metrics().ascent, 2 * m.ascent, 0.01);
    EXPECT_NEAR(twice->metrics().descent, 2 * m.descent, 0.01);
    EXPECT_NEAR(twice->metrics().xHeight, 2 * m.xHeight, 0.01);

    // A monospaced face: every ASCII advance is the cell width, 600 of 1000 units.
    const auto w = font->glyph(U'W');
    ASSERT_TRUE(w);
    EXPECT_EQ(font->glyphNamed("W"), w) << "the glyph-name table finds what the character map does";
    EXPECT_NEAR(font->advance(*w), 9.6, 0.01);
    EXPECT_NEAR(font->advance(*font->glyph(U'i')), 9.6, 0.01);
    EXPECT_NEAR(twice->advance(*w), 19.2, 0.01);

    // Capitals sit on the baseline and reach the cap height; descenders go below it.
    const GlyphBounds capital = font->bounds(*w);
    EXPECT_NEAR(capital.y, 0, 0.05);
    EXPECT_NEAR(capital.y + capital.height, m.capHeight, 0.2);
    EXPECT_GT(capital.width, 0);
    const GlyphBounds descender = font->bounds(*font->glyph(U'g'));
    EXPECT_LT(descender.y, -1);
    EXPECT_TRUE(font->bounds(*font->glyph(U' ')).isEmpty());

    EXPECT_FALSE(font->glyph(0x10FFFD)) << "a private-use scalar no font has";
    EXPECT_FALSE(font->glyph(0xD800)) << "a surrogate is no character";
    EXPECT_FALSE(font->glyphNamed("no-such-glyph-name"));
}

TEST(FontTests, IdentityEqualityAndTables)
{
    FontRef a = textfonts::terminalFont(16);
    FontRef b = Font::fromFile(a->filePath(), a->faceIndex(), 16);
    ASSERT_TRUE(b);
    EXPECT_NE(a->id(), b->id()) << "each object has its own id";
    EXPECT_TRUE(a->isSameFont(*b));
    EXPECT_EQ(a->valueHash(), b->valueHash());
    EXPECT_NE(a->valueHash(), a->withSize(17)->valueHash());
    EXPECT_EQ(a->withSize(16), a) << "the same size gives the font itself";
    EXPECT_FALSE(a->isSameFont(*a->withSize(16.5)));
    EXPECT_NE(a->withSize(16.5)->id(), a->id());

    for (double bad : {0.0, -3.0, double(NAN), double(INFINITY), 1e9}) {
        EXPECT_FALSE(a->withSize(bad)) << bad;
        EXPECT_FALSE(Font::fromFile(a->filePath(), 0, bad)) << bad;
    }
    EXPECT_FALSE(Font::fromFile("/nonexistent.ttf", 0, 12));
    EXPECT_FALSE(Font::fromFile(a->filePath(), 7, 12)) << "a single-face file has no face 7";

    EXPECT_TRUE(a->hasTable(Font::tableTag("GSUB")));
    EXPECT_FALSE(a->hasTable(Font::tableTag("morx")));
    const std::vector<uint8_t> gsub = a->table(Font::tableTag("GSUB"));
    ASSERT_GE(gsub.size(), 10u);
    EXPECT_EQ(gsub[0], 0);
    EXPECT_EQ(gsub[1], 1) << "GSUB major version 1";
    EXPECT_TRUE(a->table(Font::tableTag("morx")).empty());

    bool sawFace = false;
    a->withFreeTypeFace([&](FT_FaceRec_* face) { sawFace = face != nullptr; });
    EXPECT_TRUE(sawFace);

    FontRef emoji = Font::named("Noto Color Emoji", 16);
    ASSERT_TRUE(emoji);
    EXPECT_TRUE(emoji->isColor());
    const auto grin = emoji->glyph(U'😀');
    ASSERT_TRUE(grin);
    EXPECT_GT(emoji->advance(*grin), 16) << "an emoji is wider than its em";
    EXPECT_FALSE(emoji->bounds(*grin).isEmpty());
}

} // namespace
