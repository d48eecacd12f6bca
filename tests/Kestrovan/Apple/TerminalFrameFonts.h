// The bundled JetBrains Mono faces as a frame font set, for the tests and benchmarks that set
// rows in the terminal's own font. Needs VESK_BUNDLE_DIR, where the build copies the fonts.
#pragma once

#include "Kestrovan/Apple/FrameValues.h"
#include "Platform/Text/FontRegistry.h"
#include "Platform/Text/FontSet.h"

#include <map>
#include <mutex>
#include <string>

namespace kestrovan::testing {

/// The four faces registered (the first time) and the regular one at `pointSize` as a font set.
/// One set a size, made once, so that every view state of a size shares the same font objects
/// (and whatever a renderer caches by them) and the fonts are not loaded again for each.
inline const FrameFontSet& terminalFrameFonts(double pointSize)
{
    static std::mutex mutex;
    static std::map<double, FrameFontSet> sets;
    const std::lock_guard lock(mutex);
    if (sets.empty()) {
        for (const char* style : {"Regular", "Bold", "Italic", "BoldItalic"})
            platform::FontRegistry::registerFile(std::string(VESK_BUNDLE_DIR) + "/Fonts/JetBrainsMono-" +
                                                 style + ".ttf");
    }
    auto found = sets.find(pointSize);
    if (found == sets.end())
        found = sets.emplace(pointSize, FrameFontSet(platform::FontSet::fromNormal(
                                            platform::Font::named("JetBrainsMono-Regular", pointSize))))
                    .first;
    return found->second;
}

} // namespace kestrovan::testing
