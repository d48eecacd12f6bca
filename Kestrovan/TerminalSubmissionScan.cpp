// The scan of the bytes the user sends for a submitted command line: Enter in each of the
// forms a keyboard may encode it (CR or LF, keypad Enter as SS3 M, a kitty keyboard report of key
// 13 that is not a release), outside a bracketed paste.
//
// The scanner is a small byte-wise state machine whose state lives in the terminal, so a key
// sequence split over two sends is still recognised; every user-input path of a terminal shares
// it. It only watches: the bytes go to the child unchanged.
#include "Kestrovan/Terminal.h"
#include "Kestrovan/Utf8.h"

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

bool Terminal::scanUserInputForSubmission(Bytes data)
{
    bool submitted = false;
    for (const uint8_t byte : data) {
        // Enter as CR or LF ends whatever sequence was under way. Inside a bracketed paste
        // line breaks are pasted text, not the user pressing Enter.
        if (byte == '\r' || byte == '\n') {
            if (!semanticScanInPaste_)
                submitted = true;
            semanticScanState_ = SemanticScanState::ground;
            continue;
        }
        switch (semanticScanState_) {
        case SemanticScanState::ground:
            if (byte == escapeByte)
                semanticScanState_ = SemanticScanState::escape;
            break;
        case SemanticScanState::escape:
            if (byte == 'O')
                semanticScanState_ = SemanticScanState::ss3;
            else if (byte == '[') {
                semanticScanState_ = SemanticScanState::csi;
                semanticScanParams_.clear();
            } else if (byte != escapeByte)
                semanticScanState_ = SemanticScanState::ground;
            break;
        case SemanticScanState::csi:
            if (byte >= 0x20 && byte <= 0x3F) {
                // Parameter and intermediate bytes; past the cap they are dropped, which can
                // only make an overlong report unrecognisable, never grow memory.
                if (semanticScanParams_.size() < maximumSemanticScanParams)
                    semanticScanParams_.push_back(byte);
            } else if (byte >= 0x40 && byte <= 0x7E) {
                if (interpretSemanticCSI(semanticScanParams_, byte, semanticScanInPaste_))
                    submitted = true;
                semanticScanState_ = SemanticScanState::ground;
            } else if (byte == escapeByte) {
                semanticScanState_ = SemanticScanState::escape;
            } else {
                semanticScanState_ = SemanticScanState::ground;
            }
            break;
        case SemanticScanState::ss3:
            // SS3 M: Enter on the keypad in application keypad mode.
            if (byte == 'M' && !semanticScanInPaste_)
                submitted = true;
            semanticScanState_ = SemanticScanState::ground;
            break;
        }
    }
    return submitted;
}

void Terminal::resetUserInputScanner()
{
    semanticScanState_ = SemanticScanState::ground;
    semanticScanInPaste_ = false;
    semanticScanParams_.clear();
}

} // namespace kestrovan
