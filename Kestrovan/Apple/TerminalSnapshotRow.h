// One row of a frame snapshot: a private copy of a buffer line, with the resolved text of its
// grapheme clusters, its bidi layout and its inline images, so that drawing needs neither the
// live buffer nor the terminal lock.
//
// Rows are handed to renderers by reference and keep their identity from frame to frame;
// renderers may key per-row caches on the row object with `sourceGeneration` and `revision`. The
// snapshot refresh reuses a row for as long as its source line keeps its render identity and
// generation, and re-copies it otherwise (`isCopyOf`, `copy`). Its cells are encoded against the
// snapshot's copy of the buffer's arena; cluster text is resolved from the live arena at the copy,
// while the terminal lock is held.
#pragma once

#include "Kestrovan/Apple/TerminalBidi.h"
#include "Kestrovan/BufferLine.h"
#include "Kestrovan/CellArena.h"
#include "Kestrovan/Character.h"
#include "Kestrovan/TerminalImage.h"

#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform {
class NativeImage;
}

namespace kestrovan {

class Buffer;
class Terminal;

/// A line image a snapshot copies: the view's inline raster images implement it. Line images of
/// other kinds (the portable host's raster slices) are not drawn by the view and are left out.
class SnapshotImageSource : public TerminalImage
{
public:
    /// The picture to draw.
    virtual std::shared_ptr<const platform::NativeImage> image() const = 0;
};

/// A line image as the snapshot holds it.
class SnapshotImage final : public TerminalImage
{
public:
    SnapshotImage(std::shared_ptr<const platform::NativeImage> image, int pixelWidth, int pixelHeight,
                  int col)
        : image_(std::move(image)), pixelWidth_(pixelWidth), pixelHeight_(pixelHeight), col_(col)
    {}

    const std::shared_ptr<const platform::NativeImage>& image() const { return image_; }
    int pixelWidth() const override { return pixelWidth_; }
    int pixelHeight() const override { return pixelHeight_; }
    int col() const override { return col_; }
    void setCol(int column) override { col_ = column; }

    /// The same picture object, size and column.
    bool isSameAs(const SnapshotImage& other) const
    {
        return image_ == other.image_ && pixelWidth_ == other.pixelWidth_ &&
               pixelHeight_ == other.pixelHeight_ && col_ == other.col_;
    }

private:
    std::shared_ptr<const platform::NativeImage> image_;
    int pixelWidth_;
    int pixelHeight_;
    int col_;
};

class TerminalSnapshotRow
{
public:
    /// With `borrowing`, the row holds `source` itself. Otherwise it holds a fresh blank line of
    /// the source's width with a new render identity, encoded against `snapshotArena` (or, when
    /// none is given, a new snapshot copy of the source's arena); the first refresh fills it.
    TerminalSnapshotRow(const std::shared_ptr<BufferLine>& source, bool borrowing,
                        std::shared_ptr<CellArena> snapshotArena = nullptr);
    /// A row holding a fresh blank line of `width` cells with a new render identity, encoded
    /// against `snapshotArena`; the first refresh fills it.
    TerminalSnapshotRow(int width, std::shared_ptr<CellArena> snapshotArena);

    TerminalSnapshotRow(const TerminalSnapshotRow&) = delete;
    TerminalSnapshotRow& operator=(const TerminalSnapshotRow&) = delete;

    /// The row's own copy of the source line (or the source itself when borrowing).
    std::shared_ptr<BufferLine> line;
    /// The source line's generation at the last copy; the largest value until the first.
    uint64_t sourceGeneration = std::numeric_limits<uint64_t>::max();
    /// The bidi paragraph revision at the last layout; the smallest value until the first.
    int64_t bidiParagraphRevision = std::numeric_limits<int64_t>::min();
    /// The row's visual order; absent when it needs no reordering.
    std::optional<BidiRowLayout> bidiLayout;
    /// By column: the first character of each grapheme-cluster cell.
    std::unordered_map<int, Character> resolvedCharacters;
    /// By column: the full text of each grapheme-cluster cell (UTF-8).
    std::unordered_map<int, std::string> resolvedText;
    std::vector<std::shared_ptr<SnapshotImage>> images;
    /// Raised whenever anything drawn from the row may have changed.
    uint64_t revision = 0;

    /// Whether the row holds the current content of `source`: the same render identity and
    /// generation as at its last copy.
    bool isCopyOf(const BufferLine& source) const;
    /// Copies `source` (under the terminal lock) into the row's line, encoded against `arena`,
    /// and resolves the text of its grapheme-cluster cells in the first `cols` columns from the
    /// source's arena. `arena` must be a snapshot copy kept in step with the source's.
    void copy(const BufferLine& source, const std::shared_ptr<CellArena>& arena, int cols);
    /// Stores `revision` and lays the row out as absolute row `row` of `buffer` (under the terminal
    /// lock). A paragraph that must be typeset first is returned, and the row keeps its current
    /// layout until `completeLayout`.
    std::shared_ptr<TerminalBidi::DeferredParagraph> layOut(int64_t row, const Buffer& buffer, int cols,
                                                            const Terminal& terminal,
                                                            BidiHostPolicy hostPolicy, int64_t revision);
    /// Takes the layout for absolute row `row` from a finished paragraph (none when it has none).
    void completeLayout(int64_t row, const TerminalBidi::DeferredParagraph& paragraph);
    /// Copies the source's drawable images; a changed list (count, picture, size or column) is
    /// stored and raises `revision`, and so does `otherChange` (the row was copied or laid out, or
    /// the frame's look changed). Tells whether the images changed.
    bool refreshImages(const BufferLine& source, bool otherChange);

    /// The character drawn for the cell at `column`: a space for blanks, empty clusters and
    /// scalar 0; the resolved first character of a cluster; else the cell's scalar, or U+FFFD for a
    /// value that is no scalar.
    Character character(int column, PackedCellView cell) const;
    /// The text drawn for the cell: the same rules with the resolved cluster text.
    std::string text(int column, PackedCellView cell) const;

    /// The render identity of the source line last copied (null before the first copy): what
    /// names the line across frames while it scrolls, for renderers' per-line caches.
    const std::shared_ptr<const BufferLine::RenderIdentity>& sourceIdentityToken() const
    {
        return sourceIdentityToken_;
    }

private:
    /// The render identity of the source line last copied; none until the first copy.
    std::shared_ptr<const BufferLine::RenderIdentity> sourceIdentityToken_;
};

} // namespace kestrovan
