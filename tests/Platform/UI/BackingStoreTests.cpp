// The backing surface: pixels for points at the device scale, redraws only of the dirty part,
// y-up rectangles in the right rows, and the limits of what a surface can be.
#include "Platform/UI/BackingStore.h"
#include "Platform/UI/Utf8.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <vector>

using namespace platform;

namespace {

// The pixel at column x of row y (0 is the top row), as 0xAARRGGBB.
uint32_t pixelAt(const BackingStore& store, int x, int y)
{
    cairo_surface_t* surface = store.surface();
    const auto* row =
        cairo_image_surface_get_data(surface) + size_t(y) * cairo_image_surface_get_stride(surface);
    return reinterpret_cast<const uint32_t*>(row)[x];
}

void fill(const DrawRequest& request, double red)
{
    cairo_set_source_rgb(request.context, red, 0, 0);
    cairo_paint(request.context);
}

} // namespace

TEST(BackingStore, CoversTheViewInDevicePixelsAndRedrawsOnlyTheDirtyPart)
{
    BackingStore store;
    EXPECT_TRUE(store.update(UISize{100, 50}, 2));
    EXPECT_EQ(store.pixelWidth(), 200);
    EXPECT_EQ(store.pixelHeight(), 100);
    EXPECT_TRUE(store.isDirty()) << "a new surface is dirty as a whole";
    EXPECT_FALSE(store.update(UISize{100, 50}, 2)) << "same size, same surface";

    std::vector<DrawRequest> requests;
    ASSERT_TRUE(store.drawDirty([&](const DrawRequest& r) {
        requests.push_back(r);
        fill(r, 1);
    }));
    EXPECT_EQ(requests.back().dirtyRect, (UIRect{0, 0, 100, 50}));
    EXPECT_EQ(requests.back().scale, 2);
    EXPECT_FALSE(store.drawDirty([&](const DrawRequest&) { FAIL() << "nothing was dirty"; }));

    // A y-up rectangle at the bottom left: the last rows of the surface, nothing else.
    store.invalidate(UIRect{0, 0, 10, 5});
    store.invalidate(UIRect{90, 45, 50, 50}) /* partly outside: clipped to the view */;
    EXPECT_EQ(store.dirtyRect(), (UIRect{0, 0, 100, 50}));
    store.drawDirty([](const DrawRequest& r) { fill(r, 0); });

    store.invalidate(UIRect{0, 0, 10, 5});
    ASSERT_TRUE(store.drawDirty([&](const DrawRequest& r) {
        requests.push_back(r);
        cairo_set_source_rgb(r.context, 0, 0, 1);
        cairo_paint(r.context);
    }));
    EXPECT_EQ(requests.back().dirtyRect, (UIRect{0, 0, 10, 5}));
    EXPECT_EQ(pixelAt(store, 0, 99), 0xFF0000FFu) << "bottom-left pixel redrawn";
    EXPECT_EQ(pixelAt(store, 19, 90), 0xFF0000FFu) << "10x5 points are 20x10 pixels";
    EXPECT_EQ(pixelAt(store, 20, 99), 0xFF000000u) << "right of the dirty part: kept";
    EXPECT_EQ(pixelAt(store, 0, 89), 0xFF000000u) << "above the dirty part: kept";
}

TEST(BackingStore, FractionalDirtyEdgesWidenToWholePixelsAndOddSizesAndScalesAreSafe)
{
    BackingStore store;
    store.update(UISize{10, 10}, 1);
    store.drawDirty([](const DrawRequest& r) { fill(r, 0); });
    store.invalidate(UIRect{2.5, 2.5, 1, 1});
    store.drawDirty([](const DrawRequest& r) { fill(r, 1); });
    // Points 2.5 to 3.5 up from the bottom touch pixel rows 6 and 7 and columns 2 and 3.
    EXPECT_EQ(pixelAt(store, 2, 7), 0xFFFF0000u);
    EXPECT_EQ(pixelAt(store, 3, 6), 0xFFFF0000u);
    EXPECT_EQ(pixelAt(store, 4, 6), 0xFF000000u);

    EXPECT_TRUE(store.update(UISize{0, 10}, 1));
    EXPECT_EQ(store.surface(), nullptr) << "a view with no area has no surface";
    EXPECT_FALSE(store.drawDirty([](const DrawRequest&) { FAIL(); }));
    store.update(UISize{100000, 3}, 1);
    EXPECT_EQ(store.pixelWidth(), BackingStore::maximumSide);
    store.update(UISize{4, 4}, -3);
    EXPECT_EQ(store.scale(), 1) << "a scale that is not positive counts as 1";
    EXPECT_EQ(store.pixelWidth(), 4);
    store.update(UISize{4.2, 4}, 1.5);
    EXPECT_EQ(store.pixelWidth(), 7) << "a partly covered pixel counts";
}

TEST(Utf8, ConvertsBothWaysAndReplacesWhatIsNotText)
{
    const std::u32string text = U"a\u00e9\u20ac\U0001F600";
    EXPECT_EQ(utf8FromScalars(text), "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");
    EXPECT_EQ(scalarsFromUtf8(utf8FromScalars(text)), text);
    EXPECT_EQ(utf8FromScalars(std::u32string{char32_t(0xD800), char32_t(0x110000)}),
              "\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(scalarsFromUtf8("\xC3"), U"\uFFFD") << "cut short";
    EXPECT_EQ(scalarsFromUtf8("\xC0\xAF"), U"\uFFFD\uFFFD") << "overlong";
    EXPECT_EQ(scalarsFromUtf8("\xED\xA0\x80z"), U"\uFFFD\uFFFD\uFFFDz") << "a surrogate";
}
