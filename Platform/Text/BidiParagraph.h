// A paragraph of text resolved by the Unicode bidirectional algorithm (ICU ubidi).
//
// `BidiParagraph::make` runs the algorithm once over a whole paragraph with a base direction,
// given or detected from the first strong character; `line` then cuts out one row and gives its
// visual order as a `BidiLine`. The text is always one paragraph: separators inside it (LF,
// U+2029) are laid out as the other whitespace is instead of starting a paragraph of their own,
// so a row never spans two paragraphs with two directions. Indexes are UTF-16 units.
// A paragraph is immutable once made; cutting lines from it on several threads at once is safe.
#pragma once

#include "Platform/Sync/Mutex.h"
#include "Platform/Text/BidiLine.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct UBiDi;

namespace platform {

/// How a paragraph's base direction is chosen.
enum class BidiBase : uint8_t
{
    leftToRight,
    rightToLeft,
    /// From the first strong character; left to right when there is none.
    autoLeftToRight,
    /// From the first strong character; right to left when there is none.
    autoRightToLeft
};

class BidiParagraph
{
public:
    /// Resolves `text` as one paragraph; null when ICU cannot (out of memory).
    static std::shared_ptr<const BidiParagraph> make(std::u16string_view text, BidiBase base);

    ~BidiParagraph();
    BidiParagraph(const BidiParagraph&) = delete;
    BidiParagraph& operator=(const BidiParagraph&) = delete;

    /// The paragraph's resolved base direction.
    BidiDirection direction() const { return direction_; }
    /// The text's length in UTF-16 units.
    int32_t length() const { return int32_t(text_.size()); }

    /// The visual order of the units `start` to `limit` (a row of the paragraph); absent when
    /// the range is empty or outside the text.
    std::optional<BidiLine> line(int32_t start, int32_t limit) const EXCLUDES(mutex_);

private:
    struct Token
    {};

public:
    BidiParagraph(Token, std::u16string text, BidiBase base);

private:
    // ICU keeps a pointer to the text, so the paragraph owns its copy.
    std::u16string text_;
    // Making a line reads the paragraph's ICU object; the lock keeps that to one thread at a time,
    // as ICU asks.
    mutable Mutex mutex_;
    UBiDi* paragraph_ PT_GUARDED_BY(mutex_) = nullptr;
    BidiDirection direction_ = BidiDirection::leftToRight;
};

} // namespace platform
