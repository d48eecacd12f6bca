// CairoFontFaces: one cairo-ft face per font file and face index, opened by cairo from the file.
#include "Platform/Graphics/CairoFontFaces.h"

#include <cairo-ft.h>
#include <fontconfig/fontconfig.h>

namespace platform {

CairoFontFaces& CairoFontFaces::shared()
{
    static CairoFontFaces* faces = new CairoFontFaces;
    return *faces;
}

cairo_matrix_t CairoFontFaces::fontMatrix(const Font& font, double pointSize)
{
    // Font space runs y-down, so a point above the baseline has a negative y; leaning it right
    // by shear times its height takes -shear of that y into x.
    cairo_matrix_t matrix;
    cairo_matrix_init(&matrix, pointSize, 0, -pointSize * font.obliqueShear(), -pointSize, 0, 0);
    return matrix;
}

cairo_font_face_t* CairoFontFaces::face(const Font& font)
{
    auto key = std::make_pair(font.filePath(), font.faceIndex());
    MutexLock lock(mutex_);
    auto found = faces_.find(key);
    if (found != faces_.end())
        return found->second;

    // A pattern that names the file and index makes cairo open exactly that face, with no
    // fontconfig matching (which could substitute another font) and no configuration involved.
    // The index keeps a variable face's named instance in its high half, as FreeType expects.
    FcPattern* pattern = FcPatternCreate();
    if (!pattern)
        return nullptr;
    FcPatternAddString(pattern, FC_FILE, reinterpret_cast<const FcChar8*>(key.first.c_str()));
    FcPatternAddInteger(pattern, FC_INDEX, int(key.second));
    // Colour emoji faces are bitmap strikes (CBDT) with no outlines; cairo leaves embedded bitmaps
    // out unless told, and would draw nothing. Outline faces keep drawing from their outlines.
    if (font.isColor())
        FcPatternAddBool(pattern, FC_EMBEDDED_BITMAP, FcTrue);
    cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(pattern);
    FcPatternDestroy(pattern);
    if (cairo_font_face_status(face) != CAIRO_STATUS_SUCCESS) {
        cairo_font_face_destroy(face);
        return nullptr;
    }
    faces_.emplace(std::move(key), face);
    return face;
}

} // namespace platform
