// A find bar over a view: a search field, buttons to step to the previous and next match, three
// option switches and a close button, made of the toolkit's own widgets so that the field takes
// the keyboard focus, the input method and the clipboard like any text field.
//
// The bar only reports what the user did; the view decides what it means. Setting the field's
// text from code does not report a change. The texts and tooltips come from the view. A press in
// the field that may be a shortcut is the owner's to take first, so that the window's menus work
// while the field has the keyboard; what the owner leaves is the field's.
#pragma once

#include "Platform/UI/KeyEvent.h"
#include "Platform/UI/View.h"

#include <functional>
#include <string>

namespace platform {

/// The states of the bar's three switches.
struct FindBarOptions
{
    bool caseSensitive = false;
    bool regex = false;
    bool wholeWord = false;

    friend bool operator==(const FindBarOptions&, const FindBarOptions&) = default;
};

/// The texts of the bar's controls.
struct FindBarLabels
{
    std::string placeholder;
    std::string previousTooltip;
    std::string nextTooltip;
    std::string closeTooltip;
    std::string caseSensitiveTitle;
    std::string caseSensitiveTooltip;
    std::string regexTitle;
    std::string regexTooltip;
    std::string wholeWordTitle;
    std::string wholeWordTooltip;

    friend bool operator==(const FindBarLabels&, const FindBarLabels&) = default;
};

/// An edit the search field makes to its own text.
enum class FindFieldEdit
{
    copy,
    paste,
    selectAll,
};

class FindBar : public View
{
public:
    /// The field's text changed by the user (every change, at once).
    std::function<void(const std::string&)> onSearchChanged;
    /// Return in the field or the next button; Shift+Return or the previous button.
    std::function<void()> onFindNext;
    std::function<void()> onFindPrevious;
    /// Escape in the field or the close button.
    std::function<void()> onClose;
    /// A switch was turned, with the states of all three afterwards.
    std::function<void(FindBarOptions)> onOptionsChanged;
    /// A press in the field that has a menu form (`menuKeyEquivalent`: Super, or Ctrl+Shift, with
    /// a key), before the field sees it; answers true when it was taken, and the field then never
    /// sees it. Without a callback, or answered false, the press is the field's.
    std::function<bool(const KeyEvent&)> onShortcut;

    /// Replaces the field's text without reporting a change.
    virtual void setSearchText(const std::string& text) = 0;
    virtual std::string searchText() const = 0;
    virtual FindBarOptions options() const = 0;
    /// Gives the search field the keyboard focus, its text selected.
    virtual void focusSearchField() = 0;
    /// Copies the field's selected text to the clipboard, pastes the clipboard into the field, or
    /// selects all of its text, as the field's own Ctrl+C, Ctrl+V and Ctrl+A do.
    virtual void editSearchField(FindFieldEdit edit) = 0;
    /// The bar's size, in points, when it is given `width` points: that width, or the bar's
    /// narrowest when that is more, and the height its controls take at that width (more rows
    /// when one row does not hold them).
    virtual Size sizeForWidth(double width) const = 0;
};

} // namespace platform
