// A cell that shows an image: the platform image and, when a program asked for one, the size it
// is to cover in cells. Views use it for inline images; the screen model stores no pixels itself.
#pragma once

#include "Platform/Graphics/NativeImage.h"

#include <memory>
#include <optional>

namespace kestrovan {

class ImageCell
{
public:
    /// A cell of `image` with no size of its own yet.
    explicit ImageCell(std::shared_ptr<const platform::NativeImage> image) : image_(std::move(image)) {}

    const std::shared_ptr<const platform::NativeImage>& image() const { return image_; }

    /// Columns the image covers; absent until set.
    std::optional<int> width;
    /// Rows the image covers; absent until set.
    std::optional<int> height;

private:
    std::shared_ptr<const platform::NativeImage> image_;
};

} // namespace kestrovan
