// The interface of an image anchored on a line. The inline-image subsystem implements it; the
// screen model only stores, copies, counts and drops images and reads none of their fields.
#pragma once

namespace kestrovan {

class TerminalImage
{
public:
    virtual ~TerminalImage() = default;

    virtual int pixelWidth() const = 0;
    virtual int pixelHeight() const = 0;
    /// The column the image is anchored at.
    virtual int col() const = 0;
    virtual void setCol(int column) = 0;
};

} // namespace kestrovan
