// Hyperlinks in the view: the switch for OSC 8 links, the payload under a cell, which link a
// click opens under each highlight mode, and keeping the highlighted link's rows redrawn.
//
// Positions here are (column, buffer row). The hover code (the widget's pointer handling) keeps
// `linkHighlightRange`; a click opens only what the mode allows.
#include "Kestrovan/Apple/AppleTerminalView.h"
#include "Kestrovan/TerminalLinks.h"

#include <algorithm>
#include <set>

namespace kestrovan {

bool TerminalView::enableOsc8Hyperlinks()
{
    return withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            return terminal.options().enableOsc8Hyperlinks;
        },
        "enableOsc8Hyperlinks");
}

void TerminalView::setEnableOsc8Hyperlinks(bool value)
{
    withTerminal(
        [value](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            if (terminal.options().enableOsc8Hyperlinks == value)
                return;
            // Turned off, the open hyperlink closes too, so text printed next carries none.
            terminal.setEnableOsc8Hyperlinks(value);
            markWholeScreenLocked(terminal);
        },
        "enableOsc8Hyperlinks");
    linkHighlightRange_.reset();
    if (urlPreview) {
        urlPreview->removeFromSuperview();
        urlPreview.reset();
    }
    KESTROVAN_ASSERT(frameDriver_ != nullptr, "TerminalView.enableOsc8Hyperlinks: no frame driver");
    requestRedraw();
}

std::optional<std::string> TerminalView::payloadStringLocked(Position at)
{
    Terminal& terminal = requireTerminal("payloadStringLocked(at:)");
    terminal.terminalLock().preconditionLocked();
    if (!terminal.options().enableOsc8Hyperlinks)
        return std::nullopt;
    const Buffer& buffer = terminal.buffer();
    if (at.row < 0 || at.row >= buffer.lines().count())
        return std::nullopt;
    const BufferLine& line = buffer.lines().lineOrEmpty(static_cast<int>(at.row));
    // A line without cells has no payload to show; clamping a column into it would go to -1.
    const int width = std::min(terminal.cols(), line.count());
    if (width < 1)
        return std::nullopt;
    const int column = static_cast<int>(std::clamp<int64_t>(at.col, 0, width - 1));
    if (std::optional<std::string> payload = stringPayload(line.packed(column)))
        return payload;
    // The right half of a wide character carries its link on the left half.
    if (column > 0 && line.getWidth(column) == 0 && line.getWidth(column - 1) == 2)
        return stringPayload(line.packed(column - 1));
    return std::nullopt;
}

std::optional<TerminalView::LinkClick> TerminalView::linkForClickLocked(Position at, bool hasCommandModifier)
{
    Terminal& terminal = requireTerminal("linkForClickLocked(at:hasCommandModifier:)");
    terminal.terminalLock().preconditionLocked();
    const Buffer& buffer = terminal.buffer();
    const int count = buffer.lines().count();
    if (count < 1)
        return std::nullopt;
    const Position position(std::clamp<int64_t>(at.col, 0, std::max(terminal.cols() - 1, 0)),
                            std::clamp<int64_t>(at.row, 0, count - 1));

    const LinkHighlightMode mode = linkHighlightMode_;
    const bool hoverMode = mode == LinkHighlightMode::hover || mode == LinkHighlightMode::hoverWithModifier;
    // Plain-text links are only clickable in the hover modes, and only once hovered.
    const bool implicitEligible = (mode == LinkHighlightMode::hover ||
                                   (mode == LinkHighlightMode::hoverWithModifier && hasCommandModifier)) &&
                                  linkHighlightRange_.has_value();

    std::optional<LinkMatch> match = explicitLinkMatch(terminal, position, buffer);
    if (!match && implicitEligible)
        match = implicitLinkMatch(terminal, position, buffer);
    if (!match)
        return std::nullopt;

    bool accepted = false;
    if (hoverMode)
        // Only the link highlighted under the pointer can be clicked.
        accepted = (mode == LinkHighlightMode::hover || hasCommandModifier) && linkHighlightRange_ &&
                   *linkHighlightRange_ == match->rowRanges;
    else if (mode == LinkHighlightMode::always)
        accepted = match->isExplicit;
    else
        accepted = match->isExplicit && hasCommandModifier;
    if (!accepted)
        return std::nullopt;

    if (match->isExplicit) {
        if (const std::optional<std::string> payload = payloadStringLocked(position)) {
            if (auto parsed = urlAndParamsFrom(*payload))
                return LinkClick{std::move(parsed->first), std::move(parsed->second), true};
        }
    }
    return LinkClick{match->text, {}, match->isExplicit};
}

void TerminalView::invalidateLinkHighlight(const std::optional<std::vector<LinkMatch::RowRange>>& oldRange,
                                           const std::optional<std::vector<LinkMatch::RowRange>>& newRange)
{
    std::set<int64_t> rows;
    for (const auto* range : {&oldRange, &newRange}) {
        if (!*range)
            continue;
        for (const LinkMatch::RowRange& part : **range)
            rows.insert(part.row);
    }
    for (const int64_t row : rows)
        withTerminal([this, row](Terminal&) { invalidateLinkHighlightRowLocked(row); },
                     "invalidateLinkHighlightRow(_:)");
}

void TerminalView::invalidateLinkHighlightRowLocked(int64_t row)
{
    Terminal& terminal = requireTerminal("invalidateLinkHighlightRowLocked(_:)");
    terminal.terminalLock().preconditionLocked();
    // Rows out of view are not drawn, so there is nothing to mark.
    const int64_t screenRow = row - terminal.buffer().yDisp();
    if (screenRow < 0 || screenRow >= terminal.rows())
        return;
    terminal.updateRange(static_cast<int>(screenRow));
}

void TerminalView::setLinkHighlightMode(LinkHighlightMode mode)
{
    // The "always" modes underline every link, so every row may look different now.
    linkHighlightMode_ = mode;
    linkHighlightRange_.reset();
    withTerminal(
        [](Terminal& terminal) {
            terminal.terminalLock().assumeHeldByCaller();
            terminal.updateFullScreen();
        },
        "linkHighlightMode");
    requestRedraw();
}

void TerminalView::setLinkHighlightRange(std::optional<std::vector<LinkMatch::RowRange>> range)
{
    // The rows losing the highlight and the rows gaining it are redrawn; nothing else is.
    if (range == linkHighlightRange_)
        return;
    invalidateLinkHighlight(linkHighlightRange_, range);
    linkHighlightRange_ = std::move(range);
    requestRedraw();
}

} // namespace kestrovan
