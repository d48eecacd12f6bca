#include "Platform/Graphics/BackingStore.h"

#include <gtest/gtest.h>

using namespace platform;

TEST(BackingStoreTests, PartialRedrawKeepsUntouchedPixels)
{
    BackingStore store;
    EXPECT_FALSE(store.resize(Size{8, 4.25}, 2)) << "a new store starts over";
    ASSERT_TRUE(store.bitmap());
    EXPECT_EQ(store.bitmap()->width(), 16);
    EXPECT_EQ(store.bitmap()->height(), 9) << "4.25 points at scale 2 rounded up";
    EXPECT_EQ(store.dirtyRect(), (Rect{0, 0, 8, 4.5}));

    std::optional<Canvas> first = store.beginFrame();
    ASSERT_TRUE(first);
    first->setFillColor(NativeColor::sRGB(1, 0, 0));
    first->fillRect(Rect{0, 0, 8, 5});
    first.reset();
    EXPECT_TRUE(store.dirtyRect().isEmpty());

    // Mark two fractional strips: the frame redraws their union grown to whole device pixels.
    store.invalidate(Rect{1.2, 1.1, 1, 0.5});
    store.invalidate(Rect{2.5, 2.0, 1, 0.2});
    EXPECT_EQ(store.dirtyRect(), (Rect{1, 1, 2.5, 1.5}));
    std::optional<Canvas> second = store.beginFrame();
    second->setFillColor(NativeColor::sRGB(0, 0, 1));
    second->fillRect(Rect{0, 0, 8, 5});
    second.reset();
    const Bitmap& pixels = *store.bitmap();
    int blue = 0;
    for (int y = 0; y < pixels.height(); ++y)
        for (int x = 0; x < pixels.width(); ++x) {
            const bool inside = x >= 2 && x < 7 && y >= 2 && y < 5;
            const PremultipliedPixel p = pixels.pixel(x, y);
            EXPECT_EQ(p.alpha, 255);
            EXPECT_EQ(p.blue == 255, inside) << x << ", " << y;
            blue += p.blue == 255;
        }
    EXPECT_EQ(blue, 15);

    // Nothing marked: the frame's canvas draws nowhere.
    std::optional<Canvas> idle = store.beginFrame();
    idle->setFillColor(NativeColor::sRGB(0, 1, 0));
    idle->fillRect(Rect{0, 0, 8, 5});
    idle.reset();
    EXPECT_EQ(pixels.pixel(0, 0).green, 0);

    // The same pixel size keeps the pixels; a new scale or size starts over, all dirty.
    EXPECT_TRUE(store.resize(Size{7.9, 4.5}, 2));
    EXPECT_EQ(store.bitmap()->pixel(0, 0).red, 255);
    EXPECT_FALSE(store.resize(Size{7.9, 4.5}, 1));
    EXPECT_EQ(store.bitmap()->pixel(0, 0).alpha, 0);
    EXPECT_EQ(store.dirtyRect(), (Rect{0, 0, 8, 5}));
    EXPECT_FALSE(store.resize(Size{100000, 1}, 1)) << "too large to draw";
    EXPECT_FALSE(store.bitmap());
    EXPECT_FALSE(store.beginFrame());
}
