// The application's rules over text from programs and the file system: the screen-checksum filter
// (on every reply to the shell), the link rule (OSC 8 targets and links found in the output),
// shell quoting of dropped names and the escaping of directory names in titles. The first byte
// picks the rule; the rest is its input. Each rule must take any bytes, and what it answers must
// keep its promise:
// - the checksum filter is idempotent;
// - an allowed link is printable ASCII and is allowed again, unchanged, when read back;
// - a dropped-files text is UTF-8 and passes the paste path unchanged;
// - escaped text is UTF-8 and holds no control or newline character.
#include "Kestrovan/Utf8.h"
#include "VeskCore/ControlCharacters.h"
#include "VeskCore/SafetyPolicy.h"
#include "VeskCore/ShellQuoting.h"
#include "VeskCore/WorkingDirectory.h"

#include <cstdlib>

namespace {

std::span<const uint8_t> bytesOf(const std::string& text)
{
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

bool holdsNoControl(const std::string& text)
{
    if (!kestrovan::isValidUtf8(bytesOf(text)))
        return false;
    for (char32_t scalar : kestrovan::decodeUtf8(text)) {
        if (vesk::isTerminalControl(scalar))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 4) {
    case 0: {
        std::vector<uint8_t> scratch;
        const std::span<const uint8_t> once =
            vesk::SafetyPolicy::withoutScreenChecksums(bytesOf(input), scratch);
        const std::vector<uint8_t> first(once.begin(), once.end());
        std::vector<uint8_t> again;
        const std::span<const uint8_t> twice = vesk::SafetyPolicy::withoutScreenChecksums(first, again);
        check(std::equal(twice.begin(), twice.end(), first.begin(), first.end()));
        break;
    }
    case 1: {
        const std::optional<vesk::AllowedLink> link = vesk::SafetyPolicy::allowedLink(input);
        if (!link)
            break;
        for (char c : link->absoluteString)
            check(c > ' ' && c < 0x7F);
        check(!link->host.empty());
        check(vesk::SafetyPolicy::allowedLink(link->absoluteString) == link);
        break;
    }
    case 2: {
        // Paths are cut at NUL bytes, as file names are.
        std::vector<std::string> paths;
        size_t start = 0;
        for (size_t end; (end = input.find('\0', start)) != std::string::npos; start = end + 1)
            paths.push_back(input.substr(start, end - start));
        paths.push_back(input.substr(start));
        const kestrovan::ByteSet& controls =
            kestrovan::TerminalPasteControls::approximateTerminalControlBytes();
        const std::optional<std::string> text = vesk::ShellQuoting::droppedFilesText(paths, controls);
        if (text)
            check(kestrovan::isValidUtf8(bytesOf(*text)) &&
                  vesk::ShellQuoting::survivesPaste(*text, controls));
        break;
    }
    case 3: {
        const size_t split = input.empty() ? 0 : static_cast<uint8_t>(input[0]) % input.size();
        check(holdsNoControl(vesk::WorkingDirectory::label(input)));
        check(holdsNoControl(vesk::WorkingDirectory::abbreviatedPath(input, input.substr(0, split))));
        const std::string preview = vesk::escapedForDisplay(input, vesk::LineFeeds::keep);
        check(kestrovan::isValidUtf8(bytesOf(preview)));
        break;
    }
    }
    return 0;
}
