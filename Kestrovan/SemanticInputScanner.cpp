// The scan of user input for a submitted command line (SemanticInputScanner.h).
#include "Kestrovan/SemanticInputScanner.h"

#include "Kestrovan/Utf8.h"

#include <optional>
#include <string>
#include <string_view>

namespace kestrovan {

namespace {

constexpr uint8_t escapeByte = 0x1B;

/// The text of field `index` of `text` split at `separator`; absent past the last field.
std::optional<std::string_view> field(std::string_view text, char separator, size_t index)
{
    size_t start = 0;
    for (size_t i = 0; i < index; ++i) {
        const size_t end = text.find(separator, start);
        if (end == std::string_view::npos)
            return std::nullopt;
        start = end + 1;
    }
    const size_t end = text.find(separator, start);
    return text.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
}

/// Whether the parameters of a kitty keyboard report (CSI ... u) are an Enter press or repeat:
/// key code 13 as the first sub-field, and an event type other than 3 (release) when the
/// modifier field carries one. Modifiers and alternate key codes do not matter.
bool isKittyEnterPress(std::string_view parameters)
{
    const std::string_view keyField = field(parameters, ';', 0).value_or(std::string_view());
    if (field(keyField, ':', 0) != std::string_view("13"))
        return false;
    const std::optional<std::string_view> modifierField = field(parameters, ';', 1);
    if (!modifierField)
        return true;
    const std::optional<std::string_view> eventType = field(*modifierField, ':', 1);
    return !eventType || *eventType != "3";
}

/// Interprets a complete CSI the user sent: a kitty Enter report is a submission (outside a
/// paste); CSI 200 ~ and CSI 201 ~ open and close a bracketed paste.
bool interpretSemanticCSI(std::span<const uint8_t> parameterBytes, uint8_t final, bool& inPaste)
{
    // Only ASCII matters here; repairing stray bytes keeps the field split well defined.
    const std::string parameters = utf8String(decodeUtf8(
        std::string_view(reinterpret_cast<const char*>(parameterBytes.data()), parameterBytes.size())));
    if (final == 'u')
        return !inPaste && isKittyEnterPress(parameters);
    if (final == '~') {
        if (parameters == "200")
            inPaste = true;
        else if (parameters == "201")
            inPaste = false;
    }
    return false;
}

} // namespace

bool SemanticInputScanner::scan(std::span<const uint8_t> data)
{
    bool submitted = false;
    for (const uint8_t byte : data) {
        // Enter as CR or LF ends whatever sequence was under way. Inside a bracketed paste
        // line breaks are pasted text, not the user pressing Enter.
        if (byte == '\r' || byte == '\n') {
            if (!inPaste_)
                submitted = true;
            state_ = State::ground;
            continue;
        }
        switch (state_) {
        case State::ground:
            if (byte == escapeByte)
                state_ = State::escape;
            break;
        case State::escape:
            if (byte == 'O')
                state_ = State::ss3;
            else if (byte == '[') {
                state_ = State::csi;
                params_.clear();
            } else if (byte != escapeByte)
                state_ = State::ground;
            break;
        case State::csi:
            if (byte >= 0x20 && byte <= 0x3F) {
                // Parameter and intermediate bytes; past the cap they are dropped, which can
                // only make an overlong report unrecognisable, never grow memory.
                if (params_.size() < maximumParams)
                    params_.push_back(byte);
            } else if (byte >= 0x40 && byte <= 0x7E) {
                if (interpretSemanticCSI(params_, byte, inPaste_))
                    submitted = true;
                state_ = State::ground;
            } else if (byte == escapeByte) {
                state_ = State::escape;
            } else {
                state_ = State::ground;
            }
            break;
        case State::ss3:
            // SS3 M: Enter on the keypad in application keypad mode.
            if (byte == 'M' && !inPaste_)
                submitted = true;
            state_ = State::ground;
            break;
        }
    }
    return submitted;
}

void SemanticInputScanner::reset()
{
    state_ = State::ground;
    inPaste_ = false;
    params_.clear();
}

} // namespace kestrovan
