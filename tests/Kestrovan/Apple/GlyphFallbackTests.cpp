#include "Kestrovan/Apple/GlyphFallbackResolver.h"
#include "Kestrovan/Apple/TerminalGlyphFallbackProvider.h"
#include "Kestrovan/Apple/TerminalGlyphPlacementPolicy.h"

#include <gtest/gtest.h>
#include <set>
#include <vector>

namespace kestrovan {
namespace {

using Placement = TerminalGlyphPlacementPolicy::Placement;

/// A font with a fixed set of glyphs that records what it was asked.
class FakeFont final : public GlyphFallbackFont
{
public:
    FakeFont(std::set<char32_t> glyphs, double size) : glyphs_(std::move(glyphs)), size_(size) {}
    bool hasGlyph(char32_t scalar) const override
    {
        asked.push_back(scalar);
        return glyphs_.count(scalar) != 0;
    }
    double pointSize() const override { return size_; }

    mutable std::vector<char32_t> asked;

private:
    std::set<char32_t> glyphs_;
    double size_;
};

/// Handles the private-use area with an icon placement; its font is optional.
class FakeProvider final : public TerminalGlyphFallbackProvider
{
public:
    std::optional<TerminalGlyphPlacementPolicy> placementPolicy(char32_t scalar) const override
    {
        askedPolicy.push_back(scalar);
        if ((scalar >= 0xE000 && scalar <= 0xF8FF) || scalar == 0x1F600 || scalar == 'A')
            return TerminalGlyphPlacementPolicy{Placement::icon, 2, std::nullopt, TerminalGlyphPadding::zero};
        return std::nullopt;
    }
    GlyphFallbackFontRef fallbackFont(double pointSize) const override
    {
        askedSizes.push_back(pointSize);
        return giveFont ? std::make_shared<FakeFont>(std::set<char32_t>{}, pointSize) : nullptr;
    }
    uint64_t fallbackIdentity() const override { return identity; }

    bool giveFont = true;
    uint64_t identity = 7;
    mutable std::vector<char32_t> askedPolicy;
    mutable std::vector<double> askedSizes;
};

TEST(GlyphFallbackTests, TheBaseScalarIsOneScalarOrOneWithAVariationSelector)
{
    const auto base = [](std::u32string scalars) {
        return GlyphFallbackResolver::baseScalar(Character(scalars));
    };
    EXPECT_EQ(base(U""), std::nullopt);
    EXPECT_EQ(base(U"\uE0B0"), U'\uE0B0');
    EXPECT_EQ(base(U"\u2764\uFE0F"), U'\u2764');
    EXPECT_EQ(base(U"a\U000E0100"), U'a');
    EXPECT_EQ(base(U"a\u180B"), U'a');
    EXPECT_EQ(base(U"a\u180F"), U'a');
    EXPECT_EQ(base(U"a\u180E"), std::nullopt) << "U+180E is not a variation selector";
    EXPECT_EQ(base(U"e\u0301"), std::nullopt) << "a combining mark is not one";
    EXPECT_EQ(base(U"\U0001F468\u200D\U0001F469"), std::nullopt) << "emoji sequences never fall back";
    EXPECT_EQ(base(U"a\uFE0F\uFE0F"), std::nullopt);
}

TEST(GlyphFallbackTests, TheProviderIsAskedFirstAndItsFontOnlyWhenTheStyleFontLacksTheGlyph)
{
    FakeProvider provider;
    FakeFont styleFont({'A', 'b'}, 13);
    const auto select = [&](std::u32string scalars) {
        return GlyphFallbackResolver::selection(Character(scalars), styleFont, &provider, 12.5);
    };

    EXPECT_FALSE(GlyphFallbackResolver::selection(Character(U'\uE0B0'), styleFont, nullptr, 12.5));
    const auto icon = select(U"\uE0B0\uFE0F");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->policy.placement, Placement::icon);
    EXPECT_EQ(icon->font->pointSize(), 12.5) << "the normal font's size, whatever the cell's style";
    EXPECT_EQ(provider.askedPolicy, std::vector<char32_t>{0xE0B0});

    styleFont.asked.clear();
    EXPECT_FALSE(select(U"b")) << "not handled by the provider";
    EXPECT_TRUE(styleFont.asked.empty()) << "the font is not tested for what the provider declines";
    EXPECT_FALSE(select(U"A")) << "the style font has the glyph and draws it";
    EXPECT_EQ(styleFont.asked, std::vector<char32_t>{'A'});
    EXPECT_FALSE(select(U"\u2764\u180E"));

    styleFont.asked.clear();
    ASSERT_TRUE(select(U"\U0001F600"));
    EXPECT_EQ(styleFont.asked, std::vector<char32_t>{0x1F600}) << "a supplementary scalar is asked as itself";
    EXPECT_FALSE(GlyphFallbackResolver::fontHasGlyph(styleFont, 0xD800));

    provider.giveFont = false;
    EXPECT_FALSE(select(U"\uE0B0")) << "no font, no fallback";
}

TEST(GlyphFallbackTests, PoliciesCompareAndHashByValue)
{
    const auto policy = [](double padding, std::optional<TerminalGlyphRect> bounds,
                           std::optional<int> width) {
        return TerminalGlyphPlacementPolicy{Placement::grouped, width, bounds, {padding, 0.1, padding, 0}};
    };
    const TerminalGlyphRect rect{0.5, 0, 0.5, 1};
    EXPECT_EQ(policy(0.0, rect, 2), policy(-0.0, rect, 2)) << "the sign of a zero does not matter";
    EXPECT_EQ(policy(0.0, rect, 2).hash(), policy(-0.0, rect, 2).hash());
    const TerminalGlyphRect flipped{1, 0, -0.5, 1};
    EXPECT_EQ(policy(0, rect, 2), policy(0, flipped, 2)) << "rectangles compare standardized";
    EXPECT_EQ(policy(0, rect, 2).hash(), policy(0, flipped, 2).hash());
    EXPECT_NE(policy(0, rect, 2), policy(0, std::nullopt, 2));
    EXPECT_NE(policy(0, rect, 2), policy(0, rect, std::nullopt));
    EXPECT_NE(policy(0, rect, 2), policy(0.25, rect, 2));
    EXPECT_EQ(policy(0, std::nullopt, std::nullopt), policy(0, std::nullopt, std::nullopt));
    TerminalGlyphPlacementPolicy cover = policy(0, rect, 2);
    cover.placement = Placement::cover;
    EXPECT_NE(cover, policy(0, rect, 2));
    std::set<size_t> hashes;
    for (double padding : {0.0, 0.1, 0.2})
        for (const auto& bounds :
             {std::optional<TerminalGlyphRect>(), std::optional<TerminalGlyphRect>(rect)})
            hashes.insert(policy(padding, bounds, 2).hash());
    EXPECT_EQ(hashes.size(), 6u);

    // A provider object's identity enters its cache identity.
    FakeProvider first;
    FakeProvider second;
    EXPECT_NE(first.cacheIdentity(), second.cacheIdentity()) << "same fallback identity, other object";
    const uint64_t before = first.cacheIdentity();
    first.identity = 8;
    EXPECT_EQ(first.cacheIdentity(), before + 1);
}

} // namespace
} // namespace kestrovan
