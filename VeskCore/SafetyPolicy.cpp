// The paste rule, the shell environment, close-on-exec and the screen-checksum filter. The link
// rule lives in SafetyPolicyLinks.cpp.
#include "VeskCore/SafetyPolicy.h"

#include "Kestrovan/Utf8.h"
#include "VeskCore/ControlCharacters.h"

#include <fcntl.h>
#include <locale.h>
#include <unistd.h>

extern char** environ;

namespace vesk {

namespace {

// The fixed part of every shell's environment. PATH holds system folders only: the login shell's
// profile adds the user's own, and nothing here can put "." or an empty entry (the current
// folder) in front of them.
constexpr std::string_view fixedPath = "/usr/bin:/bin:/usr/sbin:/sbin";
constexpr std::string_view termName = "xterm-256color";
constexpr std::string_view colorTerm = "truecolor";
constexpr std::string_view termProgram = "Vesk";
constexpr std::string_view termProgramVersion = "0.1.1";

constexpr uint8_t escape = 0x1B;
constexpr uint8_t eightBitDcs = 0x90;
constexpr uint8_t eightBitSt = 0x9C;

bool isDecimalDigit(uint8_t byte)
{
    return byte >= '0' && byte <= '9';
}

bool isHexDigit(uint8_t byte)
{
    return isDecimalDigit(byte) || (byte >= 'A' && byte <= 'F') || (byte >= 'a' && byte <= 'f');
}

/// Where a screen-checksum report sits: its hexadecimal digits are [checksumStart, checksumEnd),
/// and `end` is the index just past its terminator.
struct ChecksumReport
{
    size_t checksumStart;
    size_t checksumEnd;
    size_t end;
};

/// The report of a DECRQCRA request (DCS id "!~" hex ST) starting at `index`: none as soon as a
/// byte differs or the slice ends first. The terminator must have the introducer's form: 8-bit
/// ST after 8-bit DCS, ESC "\" after ESC "P".
std::optional<ChecksumReport> checksumReportAt(std::span<const uint8_t> bytes, size_t index)
{
    const size_t size = bytes.size();
    size_t at = index;
    bool eightBit;
    if (at < size && bytes[at] == eightBitDcs) {
        eightBit = true;
        at += 1;
    } else if (at + 1 < size && bytes[at] == escape && bytes[at + 1] == 'P') {
        eightBit = false;
        at += 2;
    } else {
        return std::nullopt;
    }
    while (at < size && isDecimalDigit(bytes[at]))
        ++at;
    if (at + 1 >= size || bytes[at] != '!' || bytes[at + 1] != '~')
        return std::nullopt;
    at += 2;
    const size_t checksumStart = at;
    while (at < size && isHexDigit(bytes[at]))
        ++at;
    const size_t checksumEnd = at;
    if (checksumEnd == checksumStart)
        return std::nullopt;
    if (eightBit) {
        if (at >= size || bytes[at] != eightBitSt)
            return std::nullopt;
        return ChecksumReport{checksumStart, checksumEnd, at + 1};
    }
    if (at + 1 >= size || bytes[at] != escape || bytes[at + 1] != '\\')
        return std::nullopt;
    return ChecksumReport{checksumStart, checksumEnd, at + 2};
}

} // namespace

bool SafetyPolicy::containsTerminalControls(std::string_view text)
{
    if (!kestrovan::isValidUtf8({reinterpret_cast<const uint8_t*>(text.data()), text.size()}))
        return true;
    for (char32_t scalar : kestrovan::decodeUtf8(text)) {
        if (isTerminalControl(scalar))
            return true;
    }
    return false;
}

bool SafetyPolicy::pasteNeedsConfirmation(std::string_view text)
{
    // Both must hold: a short paste is typed as it is, whatever it holds, and a long one is
    // reviewed only when a line break or another control could act before the user sees it.
    return text.size() >= largePasteThresholdBytes && containsTerminalControls(text);
}

std::vector<std::string> SafetyPolicy::shellEnvironment(std::string_view user, std::string_view home,
                                                        std::string_view shell,
                                                        const std::map<std::string, std::string>& inherited,
                                                        const LocaleCheck& localeInstalled)
{
    // A map keeps its keys in byte order, which is the order the shell receives them in.
    std::map<std::string, std::string, std::less<>> environment{
        {"HOME", std::string(home)},
        {"USER", std::string(user)},
        {"LOGNAME", std::string(user)},
        {"SHELL", std::string(shell)},
        {"PATH", std::string(fixedPath)},
        {"TERM", std::string(termName)},
        {"COLORTERM", std::string(colorTerm)},
        {"TERM_PROGRAM", std::string(termProgram)},
        {"TERM_PROGRAM_VERSION", std::string(termProgramVersion)},
        // Many Linux systems have no en_US locale at all; a shell told to use one would fall back
        // to ASCII and every program in it would mangle UTF-8.
        {"LANG",
         std::string(localeInstalled && localeInstalled(preferredLocale) ? preferredLocale : fallbackLocale)},
    };
    for (std::string_view key : inheritedKeys) {
        const auto found = inherited.find(std::string(key));
        // A value with a NUL would be cut short at exec: it is not passed at all.
        if (found == inherited.end() || found->second.find('\0') != std::string::npos)
            continue;
        environment.insert_or_assign(std::string(key), found->second);
    }
    std::vector<std::string> entries;
    entries.reserve(environment.size());
    for (const auto& [key, value] : environment)
        entries.push_back(key + "=" + value);
    return entries;
}

std::map<std::string, std::string> SafetyPolicy::processEnvironment()
{
    std::map<std::string, std::string> result;
    for (char** entry = environ; entry && *entry; ++entry) {
        const std::string_view text(*entry);
        const size_t equals = text.find('=');
        if (equals == std::string_view::npos)
            continue;
        // The C library's lookups take the first entry of a name; so does this map.
        result.emplace(std::string(text.substr(0, equals)), std::string(text.substr(equals + 1)));
    }
    return result;
}

bool SafetyPolicy::isLocaleInstalled(std::string_view locale)
{
    const std::string name(locale);
    locale_t probe = newlocale(LC_ALL_MASK, name.c_str(), static_cast<locale_t>(nullptr));
    if (!probe)
        return false;
    freelocale(probe);
    return true;
}

bool SafetyPolicy::markCloseOnExec(int descriptor)
{
    if (descriptor < 0)
        return false;
    const int flags = fcntl(descriptor, F_GETFD);
    if (flags < 0)
        return false;
    return fcntl(descriptor, F_SETFD, flags | FD_CLOEXEC) == 0;
}

std::span<const uint8_t> SafetyPolicy::withoutScreenChecksums(std::span<const uint8_t> bytes,
                                                              std::vector<uint8_t>& scratch)
{
    static constexpr uint8_t blank[] = {'0', '0', '0', '0'};
    bool matched = false;
    size_t copied = 0;
    size_t index = 0;
    while (index < bytes.size()) {
        // Most replies hold no introducer at all; only those two bytes can start a report.
        if (bytes[index] != eightBitDcs && bytes[index] != escape) {
            ++index;
            continue;
        }
        const std::optional<ChecksumReport> report = checksumReportAt(bytes, index);
        if (!report) {
            ++index;
            continue;
        }
        if (!matched) {
            scratch.clear();
            scratch.reserve(bytes.size());
            matched = true;
        }
        // Everything up to the checksum passes as it is, the checksum becomes "0000" whatever its
        // length, and the terminator is copied with the rest.
        scratch.insert(scratch.end(), bytes.begin() + copied, bytes.begin() + report->checksumStart);
        scratch.insert(scratch.end(), std::begin(blank), std::end(blank));
        copied = report->checksumEnd;
        index = report->end;
    }
    if (!matched)
        return bytes;
    scratch.insert(scratch.end(), bytes.begin() + copied, bytes.end());
    return scratch;
}

} // namespace vesk
