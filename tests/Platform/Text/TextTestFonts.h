// Fonts the text tests share: the bundled terminal font, registered once for the test process,
// and fonts from the Debian packages tools/setup installs.
#pragma once

#include "Platform/Text/Font.h"
#include "Platform/Text/FontRegistry.h"

#include <gtest/gtest.h>
#include <string>

namespace textfonts {

inline std::string bundleFontPath(const std::string& style)
{
    return std::string(VESK_BUNDLE_DIR) + "/Fonts/JetBrainsMono-" + style + ".ttf";
}

/// Registers the four bundled faces (once) and gives the regular one at `size`.
inline platform::FontRef terminalFont(double size = 16)
{
    static const bool registered = [] {
        bool all = true;
        for (const char* style : {"Regular", "Bold", "Italic", "BoldItalic"})
            all = platform::FontRegistry::registerFile(bundleFontPath(style)) && all;
        return all;
    }();
    EXPECT_TRUE(registered) << "the build copies JetBrains Mono into " << VESK_BUNDLE_DIR;
    return platform::Font::named("JetBrainsMono-Regular", size);
}

} // namespace textfonts
