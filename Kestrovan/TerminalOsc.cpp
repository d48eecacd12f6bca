// The OSC handlers for the palette (OSC 4, 104), the default colours (OSC 10, 11, 12), the host's
// directory and document (OSC 7, 6), the clipboard (OSC 52), notifications (OSC 777) and progress
// reports (OSC 9;4), and the colour-scheme report (CSI ? 997).
//
// Payloads are untrusted bytes from the program. Every reply is built from values the terminal
// parsed and holds (palette indexes, colours, base64 of the host's clipboard), never from the
// payload's own bytes, so a program cannot make the terminal type arbitrary text back into it.
// Malformed pieces are ignored; no handler ever replies with an error.
#include "Kestrovan/Base64.h"
#include "Kestrovan/OscPayloadText.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <string>

namespace kestrovan {

namespace {

/// The position of the first `byte` at or after `from`, or the payload's size.
size_t findByte(std::span<const uint8_t> data, uint8_t byte, size_t from)
{
    const auto found =
        std::find(data.begin() + static_cast<std::ptrdiff_t>(std::min(from, data.size())), data.end(), byte);
    return static_cast<size_t>(found - data.begin());
}

} // namespace

// --- Palette (OSC 4, OSC 104) --------------------------------------------------------------------

void Terminal::oscChangeOrQueryColorIndex(Bytes data)
{
    // Pairs index;colour from left to right. A malformed index stops the walk, keeping what the
    // earlier pairs changed.
    size_t at = 0;
    while (at < data.size()) {
        const size_t semicolon = findByte(data, ';', at);
        if (semicolon == data.size())
            return;
        const std::optional<int> index = parseDecimalDigits(payloadText(data.subspan(at, semicolon - at)));
        if (!index || *index > 255)
            return;
        const size_t specStart = semicolon + 1;

        if (specStart < data.size() && data[specStart] == '?') {
            // The reply carries the parsed index, not the bytes the program wrote for it.
            if (const std::optional<Color> color = palette_.color(*index))
                sendResponse(cc_.OSC(), "4;" + std::to_string(*index) + ";" + color->formatAsXcolor(),
                             cc_.ST());
            at = specStart + 1;
            if (at < data.size() && data[at] == ';')
                ++at;
            continue;
        }

        const size_t specEnd = findByte(data, ';', specStart);
        if (const std::optional<Color> color =
                Color::parseColor(data.subspan(specStart, specEnd - specStart))) {
            if (palette_.setAnsiColor(*index, *color)) {
                if (auto host = delegate())
                    host->colorChanged(*this, *index);
            }
        }
        at = specEnd + 1;
    }
}

void Terminal::oscResetColor(Bytes data)
{
    if (data.empty()) {
        resetAllColors();
        return;
    }
    if (!isAsciiPayload(data))
        return;
    // Pieces that are not numbers are skipped, not fatal: "1;x;2" still resets 1 and 2.
    for (std::string_view piece : splitPayload(payloadText(data), ';', EmptyPieces::drop)) {
        const std::optional<int64_t> index = parseSignedInteger(piece);
        // Indexes beyond an int are far outside the palette; resetColor ignores the rest.
        if (index && *index >= 0 && *index <= 0xFFFF)
            resetColor(static_cast<int>(*index));
    }
}

void Terminal::resetColor(int index)
{
    if (!palette_.resetAnsiColor(index))
        return;
    if (auto host = delegate())
        host->colorChanged(*this, index);
}

void Terminal::resetAllColors()
{
    palette_.resetAnsiColors();
    if (auto host = delegate())
        host->colorChanged(*this, std::nullopt);
}

// --- Default colours (OSC 10, 11, 12) ------------------------------------------------------------

void Terminal::oscSetColors(Bytes data, int startAt)
{
    if (startAt < 0)
        return;
    // The colours a query reports are the host's, read once before any piece is applied.
    Colors current{palette_.foregroundColor(), palette_.backgroundColor()};
    if (auto host = delegate()) {
        const auto [foreground, background] = host->getColors(*this);
        current = Colors{foreground, background};
    }

    // Empty pieces are dropped before numbering, so "10;;?" asks for the foreground.
    const std::vector<std::string_view> pieces = splitPayload(payloadText(data), ';', EmptyPieces::drop);
    for (size_t i = 0; i < pieces.size(); ++i) {
        // Piece i addresses target startAt + i: 0 foreground, 1 background, 2 cursor.
        const int target = startAt + static_cast<int>(i);
        if (target > 2)
            return;
        const std::string_view piece = pieces[i];

        if (piece.front() == '?') {
            const Color& reported = target == 0   ? current.foreground
                                    : target == 1 ? current.background
                                                  : palette_.cursorColor().value_or(current.foreground);
            sendResponse(cc_.OSC(), std::to_string(10 + target) + ";" + reported.formatAsXcolor(), cc_.ST());
            continue;
        }

        const std::optional<Color> color = Color::parseColor(payloadBytes(piece));
        if (!color)
            continue;
        // The property's setter runs its own change step; the host is then told by the handler.
        switch (target) {
        case 0:
            setForegroundColor(*color);
            if (auto host = delegate())
                host->setForegroundColor(*this, *color);
            break;
        case 1:
            setBackgroundColor(*color);
            if (auto host = delegate())
                host->setBackgroundColor(*this, *color);
            break;
        default:
            setCursorColor(*color);
            if (auto host = delegate())
                host->setCursorColor(*this, *color);
            break;
        }
    }
}

// --- Colour scheme (CSI ? 997) -------------------------------------------------------------------

void Terminal::reportColorScheme()
{
    // CSI ? 997 ; 1 n for dark, ; 2 n for light.
    sendResponse(cc_.CSI(), colorScheme_ == TerminalColorScheme::dark ? "?997;1n" : "?997;2n");
}

void Terminal::updateColorScheme(TerminalColorScheme scheme, bool notify)
{
    colorScheme_ = scheme;
    if (notify && modes_[TerminalMode::colorSchemeUpdatesEnabled])
        reportColorScheme();
}

void Terminal::notifyColorScheme()
{
    if (modes_[TerminalMode::colorSchemeUpdatesEnabled])
        reportColorScheme();
}

// --- Directory and document (OSC 7, OSC 6) -------------------------------------------------------

void Terminal::oscSetCurrentDirectory(Bytes data)
{
    auto host = delegate();
    if (!host || !host->isProcessTrusted(*this))
        return;
    // ASCII is UTF-8 too, so text that is neither is all that is refused. The URL is kept as
    // written; the host parses it.
    if (!isValidUtf8(data))
        return;
    hostCurrentDirectory_ = std::string(payloadText(data));
    host->hostCurrentDirectoryUpdated(*this);
}

void Terminal::oscSetCurrentDocument(Bytes data)
{
    auto host = delegate();
    if (!host || !host->isProcessTrusted(*this))
        return;
    if (!isValidUtf8(data))
        return;
    hostCurrentDocument_ = std::string(payloadText(data));
    host->hostCurrentDocumentUpdated(*this);
}

// --- Clipboard (OSC 52) --------------------------------------------------------------------------

void Terminal::oscClipboard(Bytes data)
{
    // selection;data. The selection letters are passed on but not interpreted: the host decides
    // which clipboard they mean.
    const size_t semicolon = findByte(data, ';', 0);
    if (semicolon == data.size())
        return;
    auto host = delegate();
    if (!host)
        return;
    const std::string selection = clipboardSelection(payloadText(data.first(semicolon)));
    const Bytes content = data.subspan(semicolon + 1);

    if (content.size() == 1 && content[0] == '?') {
        // A host that takes the request answers later, on its own.
        if (host->clipboardReadRequest(*this, selection))
            return;
        if (const std::optional<std::vector<uint8_t>> clipboard = host->clipboardRead(*this))
            sendResponse(cc_.OSC(), "52;" + selection + ";" + base64Encode(*clipboard), cc_.ST());
        return;
    }

    // The empty text is valid base64 and clears the clipboard; anything malformed is dropped.
    if (const std::optional<std::vector<uint8_t>> decoded = base64DecodeStrict(content))
        host->clipboardCopy(*this, *decoded);
}

// --- Notifications (OSC 777) ---------------------------------------------------------------------

void Terminal::oscNotification(Bytes data)
{
    if (!isValidUtf8(data))
        return;
    // notify;title;body, where the body may itself contain ";".
    const std::string_view text = payloadText(data);
    const std::vector<std::string_view> pieces = splitPayload(text, ';', EmptyPieces::keep);
    if (pieces.size() < 3 || pieces[0] != "notify")
        return;
    const size_t bodyStart = pieces[0].size() + 1 + pieces[1].size() + 1;
    if (auto host = delegate())
        host->notify(*this, std::string(pieces[1]), std::string(text.substr(bodyStart)));
}

// --- Progress (OSC 9;4) --------------------------------------------------------------------------

std::optional<Terminal::ProgressReport> Terminal::parseProgressReport(Bytes data)
{
    // Anything that is not a valid progress report is left to the dispatcher, which logs the
    // OSC 9 as unknown.
    if (!isAsciiPayload(data))
        return std::nullopt;
    const std::vector<std::string_view> pieces = splitPayload(payloadText(data), ';', EmptyPieces::keep);
    // 4;state[;progress], the state one digit 0-4.
    if (pieces.size() < 2 || pieces[0] != "4" || pieces[1].size() != 1)
        return std::nullopt;
    const std::optional<int64_t> rawState = parseSignedInteger(pieces[1]);
    if (!rawState)
        return std::nullopt;
    const std::optional<ProgressReportState> state = progressReportStateFromRaw(*rawState);
    if (!state)
        return std::nullopt;

    // A bad percentage spoils the report; a large or negative one is clamped.
    ProgressReport report;
    report.state = *state;
    if (pieces.size() >= 3 && !pieces[2].empty()) {
        const std::optional<int64_t> progress = parseSignedInteger(pieces[2]);
        if (!progress)
            return std::nullopt;
        if (*state != ProgressReportState::remove)
            report.progress = static_cast<uint8_t>(std::clamp<int64_t>(*progress, 0, 100));
    } else if (*state == ProgressReportState::set) {
        report.progress = 0;
    }
    return report;
}

} // namespace kestrovan
