// Italic text in a terminal font without italic faces, drawn through the whole CPU frame path.
#include "FrameScenes.h"

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
    drawing_test::feedItalicsWithoutItalicFaces(scene);
    scene.refresh();
    drawing_test::expectMatchesGolden(scene.shown().bitmap, "frame-italic-without-italic-faces");
}

} // namespace
