#include "Vesk/TerminalFont.h"

#include "Platform/Text/FontRegistry.h"

#include <climits>
#include <unistd.h>

namespace vesk {

std::optional<std::string> TerminalFont::fontsDirectory(std::string_view executablePath)
{
    const size_t slash = executablePath.rfind('/');
    if (slash == std::string_view::npos)
        return std::nullopt;
    return std::string(executablePath.substr(0, slash + 1)) + "Vesk_Vesk.bundle/Fonts";
}

std::optional<std::string> TerminalFont::executablePath()
{
    std::string path(PATH_MAX, '\0');
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    // A path filling the whole buffer may have been cut; no such executable path is usable.
    if (length <= 0 || static_cast<size_t>(length) >= path.size())
        return std::nullopt;
    path.resize(static_cast<size_t>(length));
    return path;
}

const TerminalFont::Registration& TerminalFont::registered()
{
    static const Registration registration = [] {
        Registration result;
        if (const std::optional<std::string> executable = executablePath())
            result.fontsDirectory = fontsDirectory(*executable);
        if (!result.fontsDirectory)
            return result;
        for (std::string_view style : styles) {
            const std::string file = *result.fontsDirectory + "/JetBrainsMono-" + std::string(style) + ".ttf";
            // A missing file is skipped: the terminal then falls back, as it does without a bundle.
            if (platform::FontRegistry::registerFile(file))
                result.files.push_back(file);
        }
        return result;
    }();
    return registration;
}

platform::FontRef TerminalFont::font(double pointSize)
{
    registered();
    if (platform::FontRef named = verified(platform::Font::named(postScriptName, pointSize), nullptr))
        return named;
    return platform::Font::monospace(pointSize);
}

platform::FontRef TerminalFont::verified(const platform::FontRef& found, const platform::FontRef& fallback)
{
    // A name lookup also matches families and full names, and the system may hold another face
    // under a similar name: only the face whose PostScript name is the one asked for will do.
    return found && found->postScriptName() == postScriptName ? found : fallback;
}

} // namespace vesk
