// The find bar and the find actions: when the bar is made, shown, filled and hidden, and which
// search runs for typing, option changes, Return, Shift+Return and the find commands. The search
// itself (matching, selecting the match, scrolling to it) is the view's `findNext` and
// `findPrevious`; the bar is the host's toolkit widget.
//
// Every change of the bar's text searches forwards at once and puts the text on the find
// pasteboard, so another view's Find Next looks for the same. Hiding the bar keeps the term, the
// options and the match. Main thread only.
//
// The menus' shortcuts work while the field has the keyboard, as they do in the view: Find Next
// and Find Previous step from the field and the window's items run; only the clipboard and
// select-all chords act on the field's own text, as in any text field.
//
// The bar stays inside the view at any width (a narrow view gets a narrower bar, on more rows),
// and never covers the match it moved to: the view scrolls the match out from under it, or, when
// the scrollback cannot (the match is in the first lines), the bar moves to the bottom edge.

#include "Kestrovan/Mac/FindPasteboard.h"
#include "Kestrovan/Mac/MacTerminalView.h"
#include "Kestrovan/SearchService.h"
#include "Kestrovan/SelectionService.h"
#include "Platform/UI/MenuKeyRouter.h"

#include <algorithm>
#include <cmath>

namespace kestrovan {

namespace {

SearchOptions searchOptions(const platform::FindBarOptions& options)
{
    SearchOptions converted;
    converted.caseSensitive = options.caseSensitive;
    converted.regex = options.regex;
    converted.wholeWord = options.wholeWord;
    return converted;
}

/// The edit the search field makes of its own text for one of the view's actions, if any.
std::optional<platform::FindFieldEdit> fieldEditFor(std::optional<TerminalViewAction> action)
{
    if (action == TerminalViewAction::copy)
        return platform::FindFieldEdit::copy;
    if (action == TerminalViewAction::paste)
        return platform::FindFieldEdit::paste;
    if (action == TerminalViewAction::selectAll)
        return platform::FindFieldEdit::selectAll;
    return std::nullopt;
}

} // namespace

platform::FindBarLabels MacTerminalView::findBarLabels()
{
    platform::FindBarLabels labels;
    labels.placeholder = "Find";
    labels.previousTooltip = "Previous";
    labels.nextTooltip = "Next";
    labels.closeTooltip = "Close";
    labels.caseSensitiveTitle = "Aa";
    labels.caseSensitiveTooltip = "Case Sensitive";
    labels.regexTitle = ".*";
    labels.regexTooltip = "Regex";
    labels.wholeWordTitle = "Word";
    labels.wholeWordTooltip = "Whole Word";
    return labels;
}

double MacTerminalView::findBarRoom(double viewWidth)
{
    return std::max(std::min(viewWidth - 2 * findBarMargin, findBarMaximumWidth), 0.0);
}

platform::Rect MacTerminalView::findBarFrame(platform::Size viewSize, platform::Size barSize, bool atBottom)
{
    const double width = std::max(std::min(barSize.width, viewSize.width), 0.0);
    const double x = std::max(viewSize.width - findBarMargin - width, 0.0);
    const double y = atBottom ? findBarMargin : viewSize.height - findBarMargin - barSize.height;
    return platform::Rect{x, y, width, barSize.height};
}

const std::shared_ptr<platform::FindBar>& MacTerminalView::ensureFindBar()
{
    if (findBar_ || !host())
        return findBar_;
    findBar_ = host()->addFindBar(findBarLabels());
    if (!findBar_)
        return findBar_;
    findBar_->setHidden(true);
    // The bar lives as long as the view; its callbacks hold the view weakly all the same.
    std::weak_ptr<TerminalView> weak = weak_from_this();
    auto withView = [weak](auto body) {
        return [weak, body](auto&&... arguments) {
            if (const auto view = std::static_pointer_cast<MacTerminalView>(weak.lock()))
                body(*view, arguments...);
        };
    };
    findBar_->onSearchChanged = withView(
        [](MacTerminalView& view, const std::string& text) { view.handleFindBarSearchChanged(text); });
    findBar_->onFindNext = withView([](MacTerminalView& view) { view.performFind(true); });
    findBar_->onFindPrevious = withView([](MacTerminalView& view) { view.performFind(false); });
    findBar_->onClose = withView([](MacTerminalView& view) { view.hideFindBar(); });
    findBar_->onOptionsChanged = withView([](MacTerminalView& view, platform::FindBarOptions options) {
        view.handleFindBarOptionsChanged(searchOptions(options));
    });
    findBar_->onShortcut = [weak](const platform::KeyEvent& event) {
        const auto view = std::static_pointer_cast<MacTerminalView>(weak.lock());
        return view && view->handleFindFieldShortcut(event);
    };
    return findBar_;
}

void MacTerminalView::layoutFindBar()
{
    if (!findBar_)
        return;
    const platform::Size view = frameSize();
    findBar_->setFrame(findBarFrame(view, findBar_->sizeForWidth(findBarRoom(view.width)), findBarAtBottom_));
}

void MacTerminalView::placeFindBar(bool atBottom)
{
    if (atBottom == findBarAtBottom_)
        return;
    findBarAtBottom_ = atBottom;
    layoutFindBar();
}

void MacTerminalView::findAndReveal(const std::string& term, const SearchOptions& options, bool forward)
{
    if (forward)
        findNext(term, options, true);
    else
        findPrevious(term, options, true);
    keepMatchClearOfFindBar();
}

void MacTerminalView::keepMatchClearOfFindBar()
{
    const std::optional<platform::Size> cell = cellDimension();
    if (!findBarVisible() || !cell || !(cell->width > 0 && cell->height > 0))
        return;
    struct Shown
    {
        SearchSelection match;
        int64_t top;
        int64_t rows;
        int64_t cols;
        bool scrollable;
    };
    const std::optional<Shown> shown = withTerminal(
        [this](Terminal& terminal) -> std::optional<Shown> {
            const std::optional<SearchSelection> match =
                selection() ? SearchService::currentSearchSelection(*selection()) : std::nullopt;
            if (!match)
                return std::nullopt;
            return Shown{*match, terminal.buffer().yDisp(), terminal.rows(), terminal.cols(),
                         !terminal.isCurrentBufferAlternate()};
        },
        "keepMatchClearOfFindBar()");
    if (!shown)
        return;
    const platform::Size view = frameSize();
    const platform::Rect frame = findBar_->frame();
    const platform::Size bar{frame.width, frame.height};
    // The match's cells on screen, row by row, with the view's top line at `top` (y-up).
    const SearchSelection& match = shown->match;
    const auto covers = [&](const platform::Rect& barFrame, int64_t top) {
        for (int64_t row = match.start.row; row <= match.end.row; ++row) {
            const int64_t screenRow = row - top;
            const int64_t first = row == match.start.row ? match.start.col : 0;
            const int64_t end = row == match.end.row ? match.end.col : shown->cols;
            if (screenRow < 0 || screenRow >= shown->rows || end <= first)
                continue;
            const platform::Rect cells{double(first) * cell->width,
                                       view.height - double(screenRow + 1) * cell->height,
                                       double(end - first) * cell->width, cell->height};
            if (cells.intersects(barFrame))
                return true;
        }
        return false;
    };
    const platform::Rect atTop = findBarFrame(view, bar, false);
    if (!covers(atTop, shown->top)) {
        placeFindBar(false);
        return;
    }
    // Scrolled back far enough, the match's first row shows just below the bar.
    const int64_t rowsUnderBar = int64_t(std::ceil((view.height - atTop.y) / cell->height));
    const int64_t lastRow =
        match.end.col == 0 && match.end.row > match.start.row ? match.end.row - 1 : match.end.row;
    const int64_t shift = rowsUnderBar - (match.start.row - shown->top);
    if (shown->scrollable && shift > 0 && shift <= shown->top && lastRow - shown->top + shift < shown->rows) {
        scrollTo(int(shown->top - shift), true);
        placeFindBar(false);
        return;
    }
    placeFindBar(!covers(findBarFrame(view, bar, true), shown->top));
}

void MacTerminalView::showFindBar(bool prefillSelection)
{
    if (!ensureFindBar())
        return;
    findBar_->setHidden(false);
    findBarAtBottom_ = false;
    layoutFindBar();
    std::optional<std::string> term;
    if (prefillSelection) {
        term = withTerminal(
            [this](Terminal&) -> std::optional<std::string> {
                if (!selection() || !selection()->active())
                    return std::nullopt;
                std::string text = selection()->getSelectedText();
                return text.empty() ? std::nullopt : std::optional(std::move(text));
            },
            "showFindBar(prefillSelection:)");
    }
    if (!term)
        term = FindPasteboard::string();
    if (term) {
        findBar_->setSearchText(*term);
        handleFindBarSearchChanged(*term);
    }
    if (host() && host()->hasWindow())
        findBar_->focusSearchField();
    updateActionStates();
}

void MacTerminalView::hideFindBar()
{
    if (!findBar_)
        return;
    findBar_->setHidden(true);
    if (host())
        host()->grabFocus();
    updateActionStates();
}

void MacTerminalView::handleFindBarSearchChanged(const std::string& text)
{
    findBarTerm_ = text;
    if (text.empty()) {
        clearSearch();
        return;
    }
    FindPasteboard::setString(text);
    findAndReveal(text, findBarOptions_, true);
}

void MacTerminalView::handleFindBarOptionsChanged(const SearchOptions& options)
{
    findBarOptions_ = options;
    if (!findBarTerm_.empty())
        findAndReveal(findBarTerm_, findBarOptions_, true);
}

bool MacTerminalView::handleFindFieldShortcut(const platform::KeyEvent& event)
{
    const std::optional<platform::KeyEvent> menuForm = platform::menuKeyEquivalent(event);
    if (!menuForm || !findBar_)
        return false;
    // Copy, Paste and Select All in the field act on the field's text, as in any text field.
    if (const std::optional<platform::FindFieldEdit> edit = fieldEditFor(actionForKeyEquivalent(*menuForm))) {
        findBar_->editSearchField(*edit);
        return true;
    }
    // The rest as from the view itself: the menus first, then the view's find shortcuts, which
    // step through the matches while the field keeps the keyboard.
    return platform::MenuKeyRouter::offer(event) || performKeyEquivalent(*menuForm);
}

void MacTerminalView::performFind(bool next)
{
    const std::optional<std::string> term =
        findBarVisible() ? findBar_->searchText() : FindPasteboard::string();
    if (!term || term->empty())
        return;
    FindPasteboard::setString(*term);
    // The bar's switches as they are now; all off without a bar.
    const SearchOptions options = findBar_ ? searchOptions(findBar_->options()) : SearchOptions{};
    findAndReveal(*term, options, next);
}

void MacTerminalView::setFindPasteboardFromSelection()
{
    const std::string text = withTerminal(
        [this](Terminal&) {
            return selection() && selection()->active() ? selection()->getSelectedText() : std::string();
        },
        "setFindPasteboardFromSelection()");
    if (!text.empty())
        FindPasteboard::setString(text);
}

} // namespace kestrovan
