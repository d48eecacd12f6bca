// Alerts on GTK: a modal window over a parent window (or over the whole application without one)
// showing an `Alert`, answering through its completion once.
//
// The cancel button has the focus when the window opens. Return and Escape answer with the cancel
// button wherever the focus is, and so does closing the window; another button is chosen only by
// clicking it or by moving the focus to it and pressing Space. The window's title is the alert's
// message, which is how a script finds it.
#pragma once

#include "Platform/UI/Alert.h"

typedef struct _GtkWindow GtkWindow;

namespace platform::gtk {

/// Shows `alert` and returns at once; `completion` runs on the main loop when the user answers.
/// `parent` may be null: the alert is then modal for the application.
void presentAlert(const Alert& alert, GtkWindow* parent, AlertCompletion completion);

} // namespace platform::gtk
