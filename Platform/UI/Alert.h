// A modal question or notice: a message, an explanation, optionally a block of text the user may
// select and copy but not edit, and buttons. The user answers with one button; Return, Escape and
// closing the window all give the cancel button, so a question whose cancel button is the safe
// answer can never be answered the other way by a stray key.
//
// The window-system half shows it (`ViewHost::presentAlert` for a view's window, or on its own
// for the whole application); a test host records it and answers for the user.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class AlertStyle
{
    /// Something the user should think about before answering.
    warning,
    informational,
};

struct Alert
{
    AlertStyle style = AlertStyle::warning;
    /// The headline.
    std::string messageText;
    /// The sentence or two below it.
    std::string informativeText;
    /// Text shown in a scrolling box below, in a monospaced font: selectable, never editable. It is
    /// shown exactly, wrapped at the box's width without a hyphen added.
    std::optional<std::string> detailText;
    /// The detail box's size and the margin around its text, in points.
    int detailWidth = 480;
    int detailHeight = 96;
    int detailInset = 6;
    /// What assistive technologies call the detail text; nothing when empty.
    std::string detailAccessibleLabel;
    /// The buttons' titles, left to right.
    std::vector<std::string> buttons;
    /// The index of the button that Return, Escape and closing the window answer with.
    int cancelButton = 0;

    friend bool operator==(const Alert&, const Alert&) = default;
};

/// Receives the index of the button the user chose (the cancel button when the alert was closed).
using AlertCompletion = std::function<void(int button)>;

} // namespace platform
