// Fonts the GPU renderer's tests load by file: the bundled terminal font, the colour emoji font
// tools/setup installs, and the small generated fonts of tests/data/fonts/ (tools/testfonts/).
#pragma once

#include "Platform/Text/Font.h"

#include <string>

namespace metaltest {

inline std::string testFontPath(const std::string& name)
{
    return std::string(KESTROVAN_TEST_DATA_DIR) + "/fonts/" + name;
}

/// A generated font from tests/data/fonts/.
inline platform::FontRef testFont(const std::string& name, double size = 12)
{
    return platform::Font::fromFile(testFontPath(name), 0, size);
}

/// JetBrains Mono Regular, as the build bundles it.
inline platform::FontRef terminalFont(double size = 12)
{
    return platform::Font::fromFile(std::string(VESK_BUNDLE_DIR) + "/Fonts/JetBrainsMono-Regular.ttf", 0,
                                    size);
}

/// Noto Color Emoji (fonts-noto-color-emoji).
inline platform::FontRef emojiFont(double size = 12)
{
    return platform::Font::fromFile("/usr/share/fonts/truetype/noto/NotoColorEmoji.ttf", 0, size);
}

} // namespace metaltest
