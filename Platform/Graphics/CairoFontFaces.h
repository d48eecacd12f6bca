// The cairo font face of each font file the canvas draws glyphs from.
//
// A `Font` of the text layer names its face by file and index; cairo opens that file itself and
// keeps its own FreeType face behind its own lock. The text layer's FreeType face is never handed
// to cairo: that one may be used only under the text layer's lock, and cairo rasterises glyphs
// whenever its caches miss, on whichever thread draws. Faces are made once per file and index and
// kept for the life of the process (a terminal uses a handful of font files); cairo shares its
// glyph caches between all sizes of one face. A font slanted to stand in for a missing italic
// shares its face with the upright font: the slant goes into the font matrix (`fontMatrix`), so
// every user of these faces draws it the same way. Internal to the drawing layer.
#pragma once

#include "Platform/Sync/Mutex.h"
#include "Platform/Text/Font.h"

#include <map>
#include <string>
#include <utility>

typedef struct _cairo_font_face cairo_font_face_t;
typedef struct _cairo_matrix cairo_matrix_t;

namespace platform {

class CairoFontFaces
{
public:
    /// The process's faces.
    static CairoFontFaces& shared();

    /// The cairo face of `font`'s file and face index, made on first use; null when cairo cannot
    /// make one. The face stays valid for the life of the process.
    cairo_font_face_t* face(const Font& font) EXCLUDES(mutex_);

    /// The font matrix that draws `font` at `pointSize` in a y-up user space: glyphs upright
    /// (cairo's font space is y-down) and leaning by the font's `obliqueShear`.
    static cairo_matrix_t fontMatrix(const Font& font, double pointSize);

private:
    Mutex mutex_;
    std::map<std::pair<std::string, uint32_t>, cairo_font_face_t*> faces_ GUARDED_BY(mutex_);
};

} // namespace platform
