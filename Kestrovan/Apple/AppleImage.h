// One strip of an inline picture (OSC 1337 or Sixel) attached to a buffer line: a picture one cell
// row high that the renderers draw with the line, hung from the row's top edge at its column.
//
// The strip's pixels are made once when the picture is inserted and never change; the strip moves
// with its line through scrolling, the scrollback and reflow, and goes when the line goes.
#pragma once

#include "Kestrovan/Apple/TerminalSnapshotRow.h"
#include "Platform/Graphics/NativeImage.h"

#include <memory>

namespace kestrovan {

class AppleImage final : public SnapshotImageSource
{
public:
    /// A strip showing `image` over `pixelWidth` x `pixelHeight` points from column `col`.
    AppleImage(std::shared_ptr<const platform::NativeImage> image, int pixelWidth, int pixelHeight, int col)
        : image_(std::move(image)), pixelWidth_(pixelWidth), pixelHeight_(pixelHeight), col_(col)
    {}

    std::shared_ptr<const platform::NativeImage> image() const override { return image_; }
    /// The strip's size in points (whole points, truncated).
    int pixelWidth() const override { return pixelWidth_; }
    int pixelHeight() const override { return pixelHeight_; }
    int col() const override { return col_; }
    void setCol(int column) override { col_ = column; }

private:
    std::shared_ptr<const platform::NativeImage> image_;
    int pixelWidth_;
    int pixelHeight_;
    int col_;
};

} // namespace kestrovan
