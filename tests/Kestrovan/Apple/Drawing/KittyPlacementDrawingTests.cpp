// Kitty placements on one row: the layer boundaries, the aspect fit, pixel offsets at scale 2, and
// pictures that cannot be cut.
#include "DrawingTestSupport.h"

#include "Kestrovan/Apple/KittyPlacementDrawing.h"

#include <gtest/gtest.h>

using namespace kestrovan;
using drawing_test::Surface;
using platform::Rect;

namespace {

KittyGraphicsRenderSnapshot solidImageSnapshot(int width, int height)
{
    KittyGraphicsRenderSnapshot snapshot;
    KittyGraphicsRenderImage image;
    image.imageId = 1;
    image.width = width;
    image.height = height;
    image.rgba = std::make_shared<const std::vector<uint8_t>>(size_t(width * height * 4), uint8_t(255));
    image.contentGeneration = 3;
    snapshot.imagesById[1] = image;
    return snapshot;
}

KittyGraphicsRenderPlacement placementOf(KittyGraphicsCellGeometry cells, KittyGraphicsPixelRect source)
{
    KittyGraphicsRenderPlacement placement;
    placement.token = 1;
    placement.imageId = 1;
    placement.geometry = cells;
    placement.visibleSource = source;
    return placement;
}

TEST(KittyPlacementDrawing, LayersAndAspectFit)
{
    EXPECT_EQ(kittyPlacementLayer(-1'073'741'825), KittyPlacementLayer::belowBackgrounds);
    EXPECT_EQ(kittyPlacementLayer(-1'073'741'824), KittyPlacementLayer::belowText);
    EXPECT_EQ(kittyPlacementLayer(-1), KittyPlacementLayer::belowText);
    EXPECT_EQ(kittyPlacementLayer(0), KittyPlacementLayer::aboveText);
    EXPECT_EQ(kittyPlacementLayer(INT32_MIN), KittyPlacementLayer::belowBackgrounds);

    EXPECT_EQ(kittyAspectFitRect({200, 100}, Rect{0, 0, 100, 100}), (Rect{0, 25, 100, 50}));
    EXPECT_EQ(kittyAspectFitRect({50, 100}, Rect{10, 10, 100, 100}), (Rect{35, 10, 50, 100}));
    EXPECT_EQ(kittyAspectFitRect({0, 100}, Rect{1, 2, 3, 4}), (Rect{1, 2, 3, 4}));
    EXPECT_EQ(kittyAspectFitRect({10, 10}, Rect{1, 2, 0, 4}), (Rect{1, 2, 0, 4}));
}

TEST(KittyPlacementDrawing, PixelOffsetsMoveTheLeftAndTopEdgesIn)
{
    // Two cells of 8 x 16 points at scale 2, offsets of 10 pixels: the picture starts 5 points
    // right of the column and 5 points below the row's top, and still ends on the cells' right
    // and bottom edges.
    KittyGraphicsRenderSnapshot snapshot = solidImageSnapshot(4, 4);
    KittyGraphicsRenderPlacement placement = placementOf({1, 0, 2, 1}, {0, 0, 4, 4});
    placement.pixelOffsetX = 10;
    placement.pixelOffsetY = 10;
    snapshot.placements = {placement};
    KittyPlacementImageCache cache;
    Surface surface(64, 32, 2);
    drawKittyPlacements(*surface.canvas, 0, 0, KittyPlacementLayer::aboveText, snapshot, cache,
                        KittyRowGeometry{{8, 16}, 2, 4});
    std::string across, down;
    for (int x = 0; x < 64; x += 2)
        across += surface.alphaAt(x, 31) ? '#' : '.';
    for (int y = 0; y < 32; y += 2)
        down += surface.alphaAt(40, y) ? '#' : '.';
    EXPECT_EQ(across, std::string(13, '.') + std::string(11, '#') + std::string(8, '.'));
    EXPECT_EQ(down, ".....###########");

    // A layer draws only its own placements, and only on the rows they cover.
    Surface other(64, 32, 2);
    drawKittyPlacements(*other.canvas, 0, 0, KittyPlacementLayer::belowText, snapshot, cache,
                        KittyRowGeometry{{8, 16}, 2, 4});
    drawKittyPlacements(*other.canvas, 1, 0, KittyPlacementLayer::aboveText, snapshot, cache,
                        KittyRowGeometry{{8, 16}, 2, 4});
    EXPECT_EQ(other.alphaAt(40, 31), 0);
}

TEST(KittyPlacementDrawing, PicturesThatCannotBeCutDrawNothing)
{
    // A source reaching past the image, an empty source, a missing image and pixels shorter than
    // the image's size all give no picture, and nothing is cached for them.
    KittyGraphicsRenderSnapshot snapshot = solidImageSnapshot(4, 4);
    KittyPlacementImageCache cache;
    EXPECT_TRUE(cache.image(placementOf({0, 0, 1, 1}, {0, 0, 4, 4}), snapshot));
    EXPECT_TRUE(cache.image(placementOf({0, 0, 1, 1}, {1, 2, 3, 2}), snapshot));
    const KittyGraphicsPixelRect bad[] = {
        {1, 0, 4, 4}, {0, 3, 4, 2}, {-1, 0, 2, 2}, {0, 0, 0, 4}, {4, 4, 1, 1}};
    for (const KittyGraphicsPixelRect& source : bad)
        EXPECT_FALSE(cache.image(placementOf({0, 0, 1, 1}, source), snapshot))
            << source.x << "," << source.y << " " << source.width << "x" << source.height;
    KittyGraphicsRenderPlacement missing = placementOf({0, 0, 1, 1}, {0, 0, 1, 1});
    missing.imageId = 2;
    EXPECT_FALSE(cache.image(missing, snapshot));
    snapshot.imagesById[1].height = 5;
    EXPECT_FALSE(cache.image(placementOf({0, 0, 1, 1}, {0, 4, 1, 1}), snapshot))
        << "pixels short of the size";
    EXPECT_EQ(cache.count(), 2u);

    // Drawing such a placement leaves the row untouched.
    snapshot.placements = {placementOf({0, 0, 2, 1}, {2, 2, 4, 4})};
    Surface surface(16, 16);
    drawKittyPlacements(*surface.canvas, 0, 0, KittyPlacementLayer::aboveText, snapshot, cache,
                        KittyRowGeometry{{8, 16}, 1, 2});
    EXPECT_EQ(surface.alphaAt(4, 8), 0);
}

} // namespace
