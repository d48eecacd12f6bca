#include "FontFace.h"

#include "Platform/Files/RegularFile.h"

#include <climits>
#include <ft2build.h>
#include <hb.h>
#include <map>
#include <sys/mman.h>
#include <sys/stat.h>
#include <utility>
#include FT_FREETYPE_H

namespace platform {

namespace {

// FreeType's library object may be shared between threads only if opening and closing faces is
// serialised; that is all this lock guards.
struct FreeTypeLibrary
{
    Mutex mutex;
    FT_Library library GUARDED_BY(mutex) = nullptr;
    bool initFailed GUARDED_BY(mutex) = false;
};

FreeTypeLibrary& freeType()
{
    // Never destroyed: fonts held by other process-wide objects may close after static
    // destruction has begun, and must still find this alive.
    static FreeTypeLibrary* shared = new FreeTypeLibrary;
    return *shared;
}

// Open faces by file and index. Entries are weak: a face closes when its last font goes, and
// the dead entry is dropped the next time its key is looked up.
struct FaceCache
{
    Mutex mutex;
    std::map<std::pair<std::string, uint32_t>, std::weak_ptr<FontFace>> faces GUARDED_BY(mutex);
};

FaceCache& faceCache()
{
    // Never destroyed: fonts held by other process-wide objects may close after static
    // destruction has begun, and must still find this alive.
    static FaceCache* shared = new FaceCache;
    return *shared;
}

/// The font file at `path` as a blob over a read-only mapping of it; none when the path names no
/// regular file (a FIFO put in a font's place is refused, never waited on) or it cannot be read.
hb_blob_t* fontFileBlob(const std::string& path)
{
    const FileResult<FileDescriptor> file = openRegularFileForReading(path);
    struct stat info
    {};
    // A blob measures its bytes in an unsigned int.
    if (!file || fstat(file.value().get(), &info) != 0 || info.st_size <= 0 ||
        static_cast<uint64_t>(info.st_size) > UINT_MAX)
        return nullptr;
    struct Mapping
    {
        void* address;
        size_t length;
    };
    const size_t length = static_cast<size_t>(info.st_size);
    if (void* address = mmap(nullptr, length, PROT_READ, MAP_PRIVATE, file.value().get(), 0);
        address != MAP_FAILED)
        return hb_blob_create_or_fail(static_cast<const char*>(address), static_cast<unsigned>(length),
                                      HB_MEMORY_MODE_READONLY_MAY_MAKE_WRITABLE, new Mapping{address, length},
                                      [](void* data) {
                                          const auto* mapping = static_cast<Mapping*>(data);
                                          munmap(mapping->address, mapping->length);
                                          delete mapping;
                                      });
    // A file system that cannot map the file: its bytes are read into memory instead.
    FileResult<std::string> contents = readToEnd(file.value(), path, UINT_MAX);
    if (!contents || contents.value().empty())
        return nullptr;
    auto* held = new std::string(std::move(contents.value()));
    return hb_blob_create_or_fail(held->data(), static_cast<unsigned>(held->size()), HB_MEMORY_MODE_READONLY,
                                  held, [](void* data) { delete static_cast<std::string*>(data); });
}

FT_Face openFreeTypeFace(hb_blob_t* blob, uint32_t index)
{
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob, &length);
    if (!data || length == 0)
        return nullptr;
    FreeTypeLibrary& ft = freeType();
    MutexLock lock(ft.mutex);
    if (!ft.library && !ft.initFailed)
        ft.initFailed = FT_Init_FreeType(&ft.library) != 0;
    if (!ft.library)
        return nullptr;
    FT_Face face = nullptr;
    if (FT_New_Memory_Face(ft.library, reinterpret_cast<const FT_Byte*>(data), static_cast<FT_Long>(length),
                           static_cast<FT_Long>(index), &face) != 0)
        return nullptr;
    return face;
}

// Fixed pitch as a terminal means it: every printable ASCII character is in the face and moves the
// pen by the same distance. Fontconfig's spacing property says more (every glyph one width, or
// two) and is missing from monospaced faces whose accents or symbols have other widths, such as
// Noto Sans Mono; the face's own advances decide instead.
bool hasUniformAsciiAdvances(hb_face_t* face, unsigned namedInstance)
{
    hb_font_t* font = hb_font_create(face);
    if (namedInstance > 0)
        hb_font_set_var_named_instance(font, namedInstance - 1);
    hb_position_t common = 0;
    bool uniform = true;
    for (char32_t scalar = U' '; scalar <= U'~'; ++scalar) {
        hb_codepoint_t glyph = 0;
        const bool present = hb_font_get_nominal_glyph(font, scalar, &glyph) && glyph != 0;
        const hb_position_t advance = present ? hb_font_get_glyph_h_advance(font, glyph) : 0;
        if (scalar == U' ')
            common = advance;
        if (advance <= 0 || advance != common) {
            uniform = false;
            break;
        }
    }
    hb_font_destroy(font);
    return uniform;
}

void closeFreeTypeFace(FT_Face face)
{
    if (!face)
        return;
    FreeTypeLibrary& ft = freeType();
    MutexLock lock(ft.mutex);
    FT_Done_Face(face);
}

} // namespace

std::shared_ptr<FontFace> FontFace::open(const FaceLocation& location)
{
    FaceCache& cache = faceCache();
    MutexLock lock(cache.mutex);
    const auto key = std::make_pair(location.path, location.index);
    if (auto found = cache.faces.find(key); found != cache.faces.end()) {
        if (auto face = found->second.lock())
            return face;
        cache.faces.erase(found);
    }

    // The file is mapped once; HarfBuzz and FreeType both read that one mapping.
    hb_blob_t* blob = fontFileBlob(location.path);
    if (!blob)
        return nullptr;
    FT_Face freeTypeFace = openFreeTypeFace(blob, location.index);
    if (!freeTypeFace) {
        hb_blob_destroy(blob);
        return nullptr;
    }
    auto face = std::make_shared<FontFace>(Token{}, location, blob, freeTypeFace);
    cache.faces[key] = face;
    return face;
}

FontFace::FontFace(Token, FaceLocation location, hb_blob_t* blob, FT_FaceRec_* freeTypeFace)
    : location_(std::move(location)), blob_(blob), freeTypeFace_(freeTypeFace)
{
    description_ = FontRegistry::describe(freeTypeFace_, location_);
    // The low half of a face index picks the face in a collection; the high half is a variable
    // font's named instance, which HarfBuzz takes on the font instead.
    hbFace_ = hb_face_create(blob_, location_.index & 0xFFFF);
    hb_face_make_immutable(hbFace_);
    unitsPerEm_ = std::max(hb_face_get_upem(hbFace_), 1u);
    description_.monospace = description_.monospace || hasUniformAsciiAdvances(hbFace_, namedInstance());
}

FontFace::~FontFace()
{
    hb_face_destroy(hbFace_);
    closeFreeTypeFace(freeTypeFace_);
    hb_blob_destroy(blob_);
}

} // namespace platform
