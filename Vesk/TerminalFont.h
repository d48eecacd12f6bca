// The application's terminal font: the four JetBrains Mono faces shipped in the resource bundle
// beside the executable, made known to this process only, so that the terminal looks the same
// whatever fonts the user has installed.
//
// The bundle is found from the executable's own path (never the current directory, which the user
// chose for other reasons): `Vesk_Vesk.bundle/Fonts/` in the folder that holds the executable. Its
// files are registered with fontconfig as application fonts once per process, before the first
// terminal view asks for a font. The terminal font is then looked up by its PostScript name and
// used only when the face found really has that name; otherwise (no bundle, a damaged file) the
// system's monospaced font stands in.
#pragma once

#include "Platform/Text/Font.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

struct TerminalFont
{
    /// The PostScript name of the terminal font.
    static constexpr std::string_view postScriptName = "JetBrainsMono-Regular";
    /// The styles the bundle holds, in the order they are registered; each file is
    /// "JetBrainsMono-" + style + ".ttf".
    static constexpr std::string_view styles[] = {"Regular", "Bold", "Italic", "BoldItalic"};

    /// What the one registration of the process did.
    struct Registration
    {
        /// The bundle's font folder, when the executable's path could be read.
        std::optional<std::string> fontsDirectory;
        /// The files registered, in style order; a missing or unreadable file is skipped.
        std::vector<std::string> files;
    };

    /// Registers the bundle's fonts the first time it is called (from any thread; later calls
    /// only answer what the first did).
    static const Registration& registered();

    /// The bundle's font folder for an executable at `executablePath`: "Vesk_Vesk.bundle/Fonts" in
    /// the executable's folder; none for a path without a folder.
    static std::optional<std::string> fontsDirectory(std::string_view executablePath);

    /// This process's executable, from /proc/self/exe; none when it cannot be read.
    static std::optional<std::string> executablePath();

    /// The terminal font at `pointSize`, after the registration: the face named `postScriptName`
    /// when one is found and is that face, else the system's monospaced font.
    static platform::FontRef font(double pointSize);

    /// `found` (the answer of a lookup by name) when it is the face named `postScriptName`, else
    /// `fallback`: a lookup may also answer a family or full name, or another face of the family.
    static platform::FontRef verified(const platform::FontRef& found, const platform::FontRef& fallback);
};

} // namespace vesk
