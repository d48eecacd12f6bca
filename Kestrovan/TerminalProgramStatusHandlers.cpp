// OSC 7501: programs publish, update and clear program-status records, and ask whether the
// terminal understands them. Also the host's and the prompt tracker's ways of dropping records.
//
// A payload is a list of key=value pieces separated by ":". Parsing is deliberately narrow: it
// bounds every length, allows only a small character set in values, and takes free text (titles
// and messages) only as strict base64 of UTF-8 without control characters, so nothing a program
// reports here can carry escape sequences into the host's presentation. A payload that breaks a
// hard rule is ignored whole; a piece that is merely unusable is skipped.
#include "Kestrovan/OscPayloadText.h"
#include "Kestrovan/Terminal.h"
#include "Kestrovan/TerminalDelegate.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <map>

namespace kestrovan {

namespace {

/// Payloads this long or longer are ignored.
constexpr size_t maximumPayloadBytes = 4088;
constexpr size_t maximumKeyBytes = 16;
constexpr size_t maximumIdBytes = 128;
constexpr size_t maximumIdSegments = 8;
constexpr size_t maximumSegmentBytes = 32;
/// Raw (encoded) and decoded limits of the two free-text values.
constexpr size_t maximumRawTitleBytes = 256;
constexpr size_t maximumTitleBytes = 192;
constexpr size_t maximumRawMessageBytes = 2732;
constexpr size_t maximumMessageBytes = 2048;

/// One parsed OSC 7501: a clear request for an id, or a record to store.
struct ProgramStatusReport
{
    std::string id;
    bool clear = false;
    std::optional<TerminalProgramStatus> record;
};

bool isAsciiLetterOrDigit(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

/// Space and the controls 0x09-0x0D.
bool isTrimmed(char c)
{
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

std::string_view trim(std::string_view text)
{
    while (!text.empty() && isTrimmed(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isTrimmed(text.back()))
        text.remove_suffix(1);
    return text;
}

/// A segment of an id or an app name: 1-32 letters, digits and + - . _
bool isValidSegment(std::string_view segment)
{
    if (segment.empty() || segment.size() > maximumSegmentBytes)
        return false;
    for (char c : segment) {
        if (!isAsciiLetterOrDigit(c) && c != '+' && c != '-' && c != '.' && c != '_')
            return false;
    }
    return true;
}

/// 1-128 bytes of at most eight "/"-separated segments, none of them empty.
bool validId(std::string_view id)
{
    if (id.empty() || id.size() > maximumIdBytes)
        return false;
    const std::vector<std::string_view> segments = splitPayload(id, '/', EmptyPieces::keep);
    if (segments.size() > maximumIdSegments)
        return false;
    for (std::string_view segment : segments) {
        if (!isValidSegment(segment))
            return false;
    }
    return true;
}

/// The characters any value may use: letters, digits and _ . , + / = -
bool isValueCharacter(char c)
{
    return isAsciiLetterOrDigit(c) || c == '_' || c == '.' || c == ',' || c == '+' || c == '/' || c == '=' ||
           c == '-';
}

int base64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

/// Free text as strict base64 of UTF-8 with no control characters, decoding to at most `limit`
/// bytes. Padding is optional but, when present, must be exactly right.
std::optional<std::string> decodeText(std::string_view value, size_t limit)
{
    const size_t firstPad = std::min(value.find('='), value.size());
    const std::string_view data = value.substr(0, firstPad);
    const std::string_view padding = value.substr(firstPad);
    if (data.size() % 4 == 1 || padding.size() >= 3)
        return std::nullopt;
    for (char c : padding) {
        if (c != '=')
            return std::nullopt;
    }
    if (!padding.empty() && (value.size() % 4 != 0 || padding.size() != 4 - data.size() % 4))
        return std::nullopt;

    std::string decoded;
    uint32_t bits = 0;
    int bitCount = 0;
    for (char c : data) {
        const int sextet = base64Value(c);
        if (sextet < 0)
            return std::nullopt;
        bits = (bits << 6) | static_cast<uint32_t>(sextet);
        bitCount += 6;
        if (bitCount >= 8) {
            bitCount -= 8;
            if (decoded.size() == limit)
                return std::nullopt;
            decoded.push_back(static_cast<char>((bits >> bitCount) & 0xFF));
            bits &= (1u << bitCount) - 1;
        }
    }
    // The bits of a short last group that make no byte must be zero: one text, one encoding.
    if (bits != 0)
        return std::nullopt;

    if (!isValidUtf8(payloadBytes(decoded)))
        return std::nullopt;
    for (char32_t scalar : decodeUtf8(decoded)) {
        if (scalar <= 0x1F || (scalar >= 0x7F && scalar <= 0x9F))
            return std::nullopt;
    }
    return decoded;
}

/// Progress 0 ... 100 written as plain digits; anything else gives none.
std::optional<int> parseProgress(std::string_view text)
{
    if (text.empty())
        return std::nullopt;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
    }
    // Digits only, so no sign; a number too long for 64 bits fails the parse and is none too.
    const std::optional<int64_t> value = parseSignedInteger(text);
    if (!value || *value > 100)
        return std::nullopt;
    return static_cast<int>(*value);
}

/// The report of a payload, or absent when the payload is invalid.
std::optional<ProgramStatusReport> parseReport(std::string_view payload)
{
    std::map<std::string_view, std::string, std::less<>> values;
    for (std::string_view piece : splitPayload(payload, ':', EmptyPieces::keep)) {
        // The first "=" splits key from value; later ones belong to the value (base64 padding).
        const size_t equals = piece.find('=');
        if (equals == std::string_view::npos)
            continue;
        const std::string_view key = trim(piece.substr(0, equals));
        const std::string_view value = trim(piece.substr(equals + 1));
        // An over-long key is taken as a malformed payload; a merely unknown spelling is skipped
        // so that later versions of the format can add keys.
        if (key.size() > maximumKeyBytes)
            return std::nullopt;
        if (key.empty() || !std::all_of(key.begin(), key.end(), [](char c) { return c >= 'a' && c <= 'z'; }))
            continue;

        // Length limits apply to the raw, still encoded value and make the whole payload invalid.
        const bool isTitle = key == "title";
        const bool isMessage = key == "msg";
        if ((isMessage && value.size() > maximumRawMessageBytes) ||
            (isTitle && value.size() > maximumRawTitleBytes) ||
            (key == "app" && value.size() > maximumSegmentBytes) ||
            (key == "id" && value.size() > maximumIdBytes))
            return std::nullopt;
        if (key == "id" && !validId(value))
            return std::nullopt;
        if (!std::all_of(value.begin(), value.end(), isValueCharacter))
            continue;

        // Free text is decoded now so that a bad title or message rejects the payload; the other
        // known keys are interpreted once the whole payload is read. Unknown keys are dropped.
        if (isTitle || isMessage) {
            std::optional<std::string> text =
                decodeText(value, isTitle ? maximumTitleBytes : maximumMessageBytes);
            if (!text)
                return std::nullopt;
            values.insert_or_assign(key, std::move(*text));
        } else if (key == "app" || key == "id" || key == "state" || key == "kind" || key == "progress") {
            values.insert_or_assign(key, std::string(value));
        }
    }

    const auto valueOf = [&](std::string_view key) -> const std::string* {
        const auto found = values.find(key);
        return found == values.end() ? nullptr : &found->second;
    };

    // A report without an id speaks for the empty id: a clear then clears every record.
    ProgramStatusReport report;
    if (const std::string* id = valueOf("id"))
        report.id = *id;
    const std::string* stateText = valueOf("state");
    if (stateText && *stateText == "clear") {
        report.clear = true;
        return report;
    }
    const std::optional<TerminalProgramStatusState> state =
        stateText ? terminalProgramStatusStateFromRaw(*stateText) : std::nullopt;
    if (!state)
        return std::nullopt;

    // Fields that do not fit the state are dropped rather than rejected: a kind only for blocked
    // jobs, progress only for working and blocked ones.
    TerminalProgramStatus record;
    record.id = report.id;
    record.state = *state;
    const bool blocked = *state == TerminalProgramStatusState::blocked;
    if (const std::string* kind = valueOf("kind"); kind && blocked)
        record.kind = terminalProgramStatusKindFromRaw(*kind);
    if (const std::string* progress = valueOf("progress");
        progress && (blocked || *state == TerminalProgramStatusState::working))
        record.progress = parseProgress(*progress);
    if (const std::string* app = valueOf("app"); app && isValidSegment(*app)) {
        record.app = *app;
        record.effectiveApp = *app;
    }
    if (const std::string* title = valueOf("title"))
        record.title = *title;
    if (const std::string* message = valueOf("msg"))
        record.message = *message;
    report.record = std::move(record);
    return report;
}

} // namespace

void Terminal::oscProgramStatus(Bytes data, uint8_t terminator)
{
    if (data.size() >= maximumPayloadBytes)
        return;
    // The parser caps program-status OSCs a little above this; the handler's own bound is what
    // the format promises.
    const std::string_view payload = payloadText(data);
    auto host = delegate();

    if (payload == "?") {
        // The capability answer, ended the way the query was.
        if (!host)
            return;
        std::vector<uint8_t> reply(cc_.OSC().begin(), cc_.OSC().end());
        const std::string_view body = "7501;?";
        reply.insert(reply.end(), body.begin(), body.end());
        if (terminator == 0x07)
            reply.push_back(0x07);
        else
            reply.insert(reply.end(), cc_.ST().begin(), cc_.ST().end());
        host->sendReply(*this, reply);
        return;
    }

    const std::optional<ProgramStatusReport> report = parseReport(payload);
    if (!report)
        return;
    if (report->clear) {
        if (programStatusStore_.remove(TerminalProgramStatusStore::clearIdPredicate(report->id)) && host)
            host->programStatusChanged(*this, programStatusRecords());
        return;
    }
    programStatusStore_.replace(*report->record);
    // Told after every stored report, whether or not the record changed.
    if (host)
        host->programStatusChanged(*this, programStatusRecords());
}

void Terminal::clearProgramStatus(const std::string& id)
{
    if (!programStatusStore_.remove(TerminalProgramStatusStore::clearIdPredicate(id)))
        return;
    if (auto host = delegate())
        host->programStatusChanged(*this, programStatusRecords());
}

void Terminal::programStatusProcessExited()
{
    if (!programStatusStore_.remove(&TerminalProgramStatusStore::isActiveRecord))
        return;
    if (auto host = delegate())
        host->programStatusChanged(*this, programStatusRecords());
}

} // namespace kestrovan
