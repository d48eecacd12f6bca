// The small views a terminal view lays over its text: the input method's pre-edit at the caret,
// the debug overlay's plain text lines, and the progress bar and visual bell over a GPU surface.
//
// Each is a `platform::ViewCore` shown as a subview of the terminal view's widget. They draw
// plain text on a background colour with the terminal's font; they take no input.
#pragma once

#include "Platform/Graphics/NativeColor.h"
#include "Platform/Text/Font.h"
#include "Platform/UI/MarkedText.h"
#include "Platform/UI/ViewCore.h"

#include <functional>
#include <string>
#include <vector>

namespace kestrovan {

/// The text being composed, laid out from the caret's column to the view's right edge and then
/// from the left edge on the following lines, one cell high each.
class MarkedTextOverlay : public platform::ViewCore
{
public:
    struct Style
    {
        platform::FontRef font;
        platform::Size cell;
        platform::NativeColor foreground;
        platform::NativeColor background;
    };

    /// Lays `text` out for a container `width` points wide whose first line starts `indent`
    /// points in; the overlay's height is then `lineCount() × cell height`.
    void setContent(const platform::MarkedText& text, const Style& style, double width, double indent);
    /// The laid-out lines of the text (UTF-8), for tests.
    std::vector<std::string> lines() const;
    size_t lineCount() const { return lines_.size(); }
    const Style& style() const { return style_; }

    void draw(const platform::DrawRequest& request) override;

private:
    struct Line
    {
        std::u32string text;
        double x = 0;
        /// Scalar offset of the line's first scalar in the whole text.
        size_t start = 0;
    };

    platform::MarkedText text_;
    Style style_;
    std::vector<Line> lines_;
};

/// Lines of plain text in a small font, black on white, from the top down.
class DebugTextOverlay : public platform::ViewCore
{
public:
    explicit DebugTextOverlay(platform::FontRef font);
    void setLines(std::vector<std::string> lines);
    const std::vector<std::string>& lines() const { return lines_; }
    /// The height of one line.
    double lineHeight() const;
    void draw(const platform::DrawRequest& request) override;

private:
    platform::FontRef font_;
    std::vector<std::string> lines_;
};

/// A transparent view covering the terminal view, drawn by its owner: the progress bar and the
/// visual bell, which the CPU path draws on the view's own canvas, go here while a GPU surface
/// covers that canvas.
class StatusOverlay : public platform::ViewCore
{
public:
    /// `drawContent` draws into the overlay's canvas, in the terminal view's y-up points.
    explicit StatusOverlay(std::function<void(platform::Canvas&)> drawContent)
        : drawContent_(std::move(drawContent))
    {}
    /// Clears the dirty part (the backing store keeps the last frame) and draws the content.
    void draw(const platform::DrawRequest& request) override;

private:
    std::function<void(platform::Canvas&)> drawContent_;
};

/// Draws `text` with `font` from `origin` (the baseline's left end, y-up), glyph after glyph;
/// the width drawn.
double drawPlainText(platform::Canvas& canvas, const platform::FontRef& font, const std::u32string& text,
                     platform::Point origin);
/// The width `text` takes in `font`.
double plainTextWidth(const platform::FontRef& font, const std::u32string& text);

} // namespace kestrovan
