// One font face, opened once per process and shared by every size of it.
//
// A `FontFace` holds a face's file mapped once, the HarfBuzz face that shapes and measures it, and
// the FreeType face that reads its names (and that a rasterizer may draw with). Faces are
// deduplicated by file and index: every `Font` of one face, at whatever size, shares one
// `FontFace`, which closes when the last of them goes. The HarfBuzz face is immutable and safe on
// any thread; the FreeType face is not, so it is reached only under the face's own lock.
// Used inside Platform/Text; callers outside it work with `Font`.
#pragma once

#include "Platform/Sync/Mutex.h"
#include "Platform/Text/FontRegistry.h"

#include <memory>

struct FT_FaceRec_;
struct hb_blob_t;
struct hb_face_t;

namespace platform {

class FontFace
{
public:
    /// The face at `location`, opened now or shared with the fonts already using it; null when
    /// the file cannot be read or holds no such face.
    static std::shared_ptr<FontFace> open(const FaceLocation& location);

    ~FontFace();
    FontFace(const FontFace&) = delete;
    FontFace& operator=(const FontFace&) = delete;

    const FaceLocation& location() const { return location_; }
    const FaceDescription& description() const { return description_; }
    /// The HarfBuzz face; immutable, usable from any thread.
    hb_face_t* harfBuzzFace() const { return hbFace_; }
    /// Design units per em of the face.
    unsigned unitsPerEm() const { return unitsPerEm_; }
    /// The named instance of a variable face (0 for none), from the high half of the index.
    unsigned namedInstance() const { return location_.index >> 16; }

    /// Runs `body` with the FreeType face, holding the face's lock for the call: FreeType faces may
    /// be used by one thread at a time only.
    template <typename Body> auto withFreeTypeFace(Body&& body) const EXCLUDES(freeTypeMutex_)
    {
        MutexLock lock(freeTypeMutex_);
        return body(freeTypeFace_);
    }

private:
    struct Token
    {};

public:
    FontFace(Token, FaceLocation location, hb_blob_t* blob, FT_FaceRec_* freeTypeFace);

private:
    FaceLocation location_;
    FaceDescription description_;
    hb_blob_t* blob_ = nullptr;
    hb_face_t* hbFace_ = nullptr;
    unsigned unitsPerEm_ = 1000;
    mutable Mutex freeTypeMutex_;
    FT_FaceRec_* freeTypeFace_ PT_GUARDED_BY(freeTypeMutex_) = nullptr;
};

} // namespace platform
