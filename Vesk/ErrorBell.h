// The application's beep: GTK's error bell on a widget's display, counted, so that the test state
// dump can tell that a refused split, drop or link did beep. Main thread only.
#pragma once

#include <cstdint>

typedef struct _GtkWidget GtkWidget;

namespace vesk {

struct ErrorBell
{
    /// Sounds the bell of `widget`'s display (of the default display when null) and counts it.
    static void ring(GtkWidget* widget);
    /// How many times the bell rang in this process.
    static uint64_t count();
};

} // namespace vesk
