// The find bar and the find actions: when the bar is made, shown, filled and hidden, and which
// search runs for typing, option changes, Return, Shift+Return and the find commands. The search
// itself (matching, selecting the match, scrolling to it) is the view's `findNext` and
// `findPrevious`; the bar is the host's toolkit widget.
//
// Every change of the bar's text searches forwards at once and puts the text on the find
// pasteboard, so another view's Find Next looks for the same. Hiding the bar keeps the term, the
// options and the match. Main thread only.

#include "Kestrovan/Mac/FindPasteboard.h"
#include "Kestrovan/Mac/MacTerminalView.h"
#include "Kestrovan/SelectionService.h"

#include <algorithm>

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

platform::Rect MacTerminalView::findBarFrame(platform::Size viewSize, platform::Size barMinimum)
{
    // As wide as the view leaves between the margins, up to the greatest width; a view narrower
    // than the bar's least width gives up the left margin first.
    const double room = std::min(viewSize.width - 2 * findBarMargin, findBarMaximumWidth);
    const double width = std::max(room, barMinimum.width);
    const double height = barMinimum.height;
    return platform::Rect{viewSize.width - findBarMargin - width, viewSize.height - findBarMargin - height,
                          width, height};
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
    return findBar_;
}

void MacTerminalView::layoutFindBar()
{
    if (findBar_)
        findBar_->setFrame(findBarFrame(frameSize(), findBar_->minimumSize()));
}

void MacTerminalView::showFindBar(bool prefillSelection)
{
    if (!ensureFindBar())
        return;
    findBar_->setHidden(false);
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
    findNext(text, findBarOptions_, true);
}

void MacTerminalView::handleFindBarOptionsChanged(const SearchOptions& options)
{
    findBarOptions_ = options;
    if (!findBarTerm_.empty())
        findNext(findBarTerm_, findBarOptions_, true);
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
    if (next)
        findNext(*term, options, true);
    else
        findPrevious(*term, options, true);
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
