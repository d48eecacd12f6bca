// Shell words for dropped files, and the check that the paste path would deliver them intact.
#include "VeskCore/ShellQuoting.h"

#include "Kestrovan/TerminalPaste.h"
#include "Kestrovan/Utf8.h"

#include <algorithm>
#include <variant>

namespace vesk {

namespace {

bool isPlain(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::string_view("_@%+=:,./-").find(c) != std::string_view::npos;
}

std::span<const uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

} // namespace

std::string ShellQuoting::argument(std::string_view text)
{
    if (text.empty())
        return "''";
    if (std::all_of(text.begin(), text.end(), isPlain))
        return std::string(text);
    std::string quoted = "'";
    for (char c : text) {
        // A single quote cannot appear inside single quotes: close them, write an escaped quote,
        // and open them again.
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    quoted += '\'';
    return quoted;
}

bool ShellQuoting::survivesPaste(std::string_view path, const kestrovan::ByteSet& terminalControlBytes)
{
    // The encoder's own verdict: a line end without brackets, or the bracket's end marker, would
    // make it refuse the paste or send it for review.
    const std::span<const uint8_t> bytes = bytesOf(path);
    if (kestrovan::TerminalPaste::isUnsafe(bytes, false) || kestrovan::TerminalPaste::isUnsafe(bytes, true))
        return false;
    // Unbracketed encoding changes a superset of what bracketed encoding changes (it also turns
    // line feeds into carriage returns), so one comparison covers both modes.
    const auto result = kestrovan::TerminalPaste::encode(bytes, false, terminalControlBytes, true);
    const auto* encoded = std::get_if<kestrovan::TerminalPaste::Encoded>(&result);
    return encoded && std::equal(encoded->bytes.begin(), encoded->bytes.end(), bytes.begin(), bytes.end());
}

std::string ShellQuoting::standardizedPath(std::string_view path)
{
    const bool absolute = !path.empty() && path.front() == '/';
    std::vector<std::string_view> components;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find('/', start), path.size());
        const std::string_view component = path.substr(start, end - start);
        if (component == "..") {
            // Above the root ".." stays at the root; a relative path keeps its leading "..".
            if (!components.empty() && components.back() != "..")
                components.pop_back();
            else if (!absolute)
                components.push_back(component);
        } else if (!component.empty() && component != ".") {
            components.push_back(component);
        }
        start = end + 1;
    }
    std::string result = absolute ? "/" : "";
    for (size_t i = 0; i < components.size(); ++i) {
        if (i > 0)
            result += '/';
        result += components[i];
    }
    return result;
}

std::optional<std::string> ShellQuoting::droppedFilesText(const std::vector<std::string>& paths,
                                                          const kestrovan::ByteSet& terminalControlBytes)
{
    std::string text;
    for (const std::string& path : paths) {
        if (!kestrovan::isValidUtf8(bytesOf(path)) || !survivesPaste(path, terminalControlBytes))
            return std::nullopt;
        text += argument(standardizedPath(path));
        text += ' ';
    }
    return text;
}

} // namespace vesk
