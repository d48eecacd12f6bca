// The process's font catalogue: fontconfig behind one lock, with the application's own font files.
//
// `FontRegistry` owns one fontconfig configuration for the whole process, loaded on first use, and
// every fontconfig call of this module goes through it under one mutex: fontconfig's own locking
// does not cover a configuration that changes while another thread sorts it, and the calls are
// rare (font creation and fallback cache misses), so one lock costs nothing that matters.
// Registered files (the application's bundled fonts) are looked at before the system's fonts, so
// a font the application ships wins over an installed copy of the same font.
// It also holds the sorted fallback lists (`FallbackList`) the fallback cascade walks.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

struct FT_FaceRec_;

namespace platform {

/// Where a face lives: a font file and the face's index inside it (collections hold several).
struct FaceLocation
{
    std::string path;
    uint32_t index = 0;

    bool operator==(const FaceLocation&) const = default;
};

/// What fontconfig says about a face: its family, weight on fontconfig's scale (80 regular, 200
/// bold), slant, fixed pitch (which the face's own advances may also establish, see `FontFace`)
/// and colour glyphs.
struct FaceDescription
{
    std::string family;
    std::string style;
    std::string postScriptName;
    int weight = 80;
    bool italic = false;
    bool monospace = false;
    bool color = false;
};

/// The style a font is asked for: bold and italic, the four faces a terminal uses.
struct FontTraits
{
    bool bold = false;
    bool italic = false;

    bool operator==(const FontTraits&) const = default;
};

/// A face picked for a style, and the slant it is drawn with.
struct StyledFace
{
    FaceLocation location;
    /// How far the face is slanted to stand in for an italic its family lacks: the shift to the
    /// right per unit of height (y-up), as in a shear matrix; 0 for a face drawn as designed.
    double obliqueShear = 0;

    bool operator==(const StyledFace&) const = default;
};

/// A list of faces in the order they are tried for characters a font lacks, sorted once by
/// fontconfig for one family, style and colour preference. Immutable once made; any thread may
/// read it.
class FallbackList
{
public:
    ~FallbackList();
    FallbackList(const FallbackList&) = delete;
    FallbackList& operator=(const FallbackList&) = delete;

    /// The first face of the list whose character map holds every scalar of `scalars`.
    std::optional<FaceLocation> firstCovering(std::u32string_view scalars) const;

    /// How many faces the list holds.
    size_t size() const;

private:
    friend class FontRegistry;
    struct Impl;
    explicit FallbackList(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

class FontRegistry
{
public:
    /// Makes the font file at `path` known to this process only, ahead of the system's fonts.
    /// Registering a file twice does nothing more; false when the file is missing or holds no font.
    static bool registerFile(const std::string& path);

    /// The face whose PostScript name, full name or family is `name` (a family gives its regular
    /// face), registered files first; absent when no face has that name.
    static std::optional<FaceLocation> findNamed(std::string_view name);

    /// The face fontconfig picks for the generic family "monospace"; absent only on a machine
    /// with no fonts at all.
    static std::optional<FaceLocation> findMonospace();

    /// The face of `family` closest to `traits` with `regularWeight` as the weight of a non-bold
    /// face. A family without italic faces answers an italic request with its upright face of that
    /// weight, slanted as fontconfig's rules slant it (about 12 degrees where they say nothing);
    /// colour faces are never slanted. Absent when the family has no face of that slant to give,
    /// or no bold face for a bold request.
    static std::optional<StyledFace> findStyle(std::string_view family, FontTraits traits, int regularWeight);

    /// The slant given to an upright face standing in for italic when fontconfig's rules give
    /// none: tan(12 degrees), the lean of a typical oblique.
    static constexpr double defaultObliqueShear = 0.2126;

    /// The fallback order for text drawn in `family` with `traits`: faces sorted by fontconfig,
    /// colour faces first when `color` is set and last otherwise, the fixed-pitch ones ahead of
    /// the others, trimmed to those that add characters.
    static std::shared_ptr<const FallbackList> fallbackList(std::string_view family, FontTraits traits,
                                                            bool color);

    /// Describes an opened FreeType face through fontconfig.
    static FaceDescription describe(FT_FaceRec_* face, const FaceLocation& location);
};

} // namespace platform
