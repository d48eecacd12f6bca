#include "Vesk/PasteReview.h"

#include "VeskCore/ControlCharacters.h"

#include <glib.h>

namespace vesk {

platform::Alert PasteReview::makeAlert(std::string_view text)
{
    platform::Alert alert;
    alert.style = platform::AlertStyle::warning;
    alert.messageText = "Paste " + sizeText(text.size()) + " of text?";
    alert.informativeText = "The complete text is shown below. Line breaks may run commands immediately. "
                            "Hidden control characters are displayed as \\u{\u2026}.";
    alert.detailText = displayText(text);
    alert.detailWidth = 600;
    alert.detailHeight = 320;
    alert.detailInset = 8;
    alert.detailAccessibleLabel = "Complete paste preview";
    alert.buttons = {"Cancel", "Paste"};
    alert.cancelButton = 0;
    return alert;
}

std::string PasteReview::displayText(std::string_view text)
{
    return escapedForDisplay(text, LineFeeds::keep);
}

std::string PasteReview::sizeText(size_t bytes)
{
    gchar* formatted = g_format_size(bytes);
    std::string result = formatted;
    g_free(formatted);
    return result;
}

} // namespace vesk
