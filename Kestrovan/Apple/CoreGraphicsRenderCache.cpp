#include "Kestrovan/Apple/CoreGraphicsRenderCache.h"

#include "Kestrovan/Apple/FrameHasher.h"

namespace kestrovan {

size_t CoreGraphicsRenderCache::KeyHash::operator()(const Key& key) const
{
    FrameHasher hasher;
    for (const char16_t unit : key.text)
        hasher.feed(uint64_t(unit));
    for (const auto& [length, attributes] : key.runs) {
        hasher.feed(uint64_t(length));
        hasher.feed(uint64_t(attributes.hash()));
    }
    hasher.feed(uint64_t(key.fallbackTag));
    return static_cast<size_t>(hasher.finish());
}

std::shared_ptr<const platform::ShapedLine> CoreGraphicsRenderCache::line(const SnapshotAttributedText& text)
{
    const auto shape = [&] { return std::make_shared<const platform::ShapedLine>(text.shape()); };
    if (text.empty() || text.text().size() > longestCachedText)
        return shape();
    Key key{text.text(), {}, 0};
    key.runs.reserve(text.runs().size());
    for (const auto& run : text.runs())
        key.runs.emplace_back(run.length, run.attributes ? *run.attributes : SnapshotTextAttributes());
    const SnapshotTextAttributesRef& first = text.runs().front().attributes;
    if (first && first->glyphPolicy && first->font)
        key.fallbackTag = reinterpret_cast<uintptr_t>(first->font.get());
    if (const auto found = lines_.find(key); found != lines_.end())
        return found->second;
    if (lines_.size() >= lineLimit)
        lines_.clear();
    std::shared_ptr<const platform::ShapedLine> shaped = shape();
    lines_.emplace(std::move(key), shaped);
    return shaped;
}

} // namespace kestrovan
