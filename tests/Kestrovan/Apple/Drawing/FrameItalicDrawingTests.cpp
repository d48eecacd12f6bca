// Italic text in a terminal font without italic faces, drawn through the whole CPU frame path.
#include "FrameDrawingTestSupport.h"

#include "Platform/Text/FontSet.h"

#include <gtest/gtest.h>

using namespace kestrovan;
using drawing_test::FrameScene;

namespace {

TEST(FrameDrawing, GoldenItalicsOfAFontWithoutItalicFaces)
{
    // DejaVu Sans Mono's italic and bold italic are its book and bold faces slanted: SGR 3 text
    // leans rather than stand upright, in both weights, with its underline and background kept
    // to the cells.
    FrameScene scene(24, 4, 2);
    const platform::FontSet fonts =
        platform::FontSet::fromNormal(platform::Font::named("DejaVu Sans Mono", 12));
    ASSERT_TRUE(fonts.italic && fonts.italic->obliqueShear() > 0);
    scene.view.fonts = FrameFontSet(fonts);
    scene.feed("upright \x1b[3mitalic |l\x1b[0m\r\n");
    scene.feed("\x1b[1mbold \x1b[3mbold italic\x1b[0m\r\n");
    scene.feed("\x1b[3;4mitalic underlined\x1b[0m\r\n");
    scene.feed("\x1b[3;44;97m on blue \x1b[0m\x1b[1;3;31m red\x1b[0m");
    scene.refresh();
    drawing_test::expectMatchesGolden(scene.shown().bitmap, "frame-italic-without-italic-faces");
}

} // namespace
