#include "FontRegistry.h"

#include "Platform/Sync/Mutex.h"

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <ft2build.h>
#include <set>
#include <vector>
#include FT_FREETYPE_H
// fcfreetype.h needs fontconfig.h before it, an order the include sorting would undo.
// clang-format off
#include <fontconfig/fontconfig.h>
#include <fontconfig/fcfreetype.h>
// clang-format on

namespace platform {

namespace {

// The one configuration of the process: fontconfig's own current one, which the toolkit's text
// stack uses too, so the configuration files and font caches are read once per process (a
// second configuration of our own would read them all again, some 15-30 ms at start-up). It is
// loaded on first use rather than at start-up: a process that never draws text never pays for
// reading the font caches.
struct Catalogue
{
    Mutex mutex;
    FcConfig* config GUARDED_BY(mutex) = nullptr;
    bool loadFailed GUARDED_BY(mutex) = false;
    std::set<std::string> registered GUARDED_BY(mutex);
};

Catalogue& catalogue()
{
    // Never destroyed: fonts held by other process-wide objects may close after static
    // destruction has begun, and must still find this alive.
    static Catalogue* shared = new Catalogue;
    return *shared;
}

// At exit the configuration is released, so that leak checkers see every font set it holds
// freed; a lookup made later still (from another exit handler) finds no fonts instead of crashing.
void releaseConfig()
{
    Catalogue& cat = catalogue();
    MutexLock lock(cat.mutex);
    if (cat.config)
        FcConfigDestroy(cat.config);
    cat.config = nullptr;
    cat.loadFailed = true;
}

FcConfig* configLocked(Catalogue& cat) REQUIRES(cat.mutex)
{
    if (!cat.config && !cat.loadFailed) {
        // A reference to the current configuration, loading it when nobody has yet.
        cat.config = FcConfigReference(nullptr);
        cat.loadFailed = cat.config == nullptr;
        if (cat.config)
            std::atexit(releaseConfig);
    }
    return cat.config;
}

const FcChar8* fcString(const std::string& text)
{
    return reinterpret_cast<const FcChar8*>(text.c_str());
}

std::optional<std::string> stringOf(FcPattern* pattern, const char* object, int which = 0)
{
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, object, which, &value) != FcResultMatch || !value)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(value));
}

// Weights are doubles in current fontconfig and integers in older caches; variable faces carry a
// range. Each reads as one number here.
double numberOf(FcPattern* pattern, const char* object, double fallback)
{
    int integer = 0;
    if (FcPatternGetInteger(pattern, object, 0, &integer) == FcResultMatch)
        return integer;
    double real = 0;
    if (FcPatternGetDouble(pattern, object, 0, &real) == FcResultMatch)
        return real;
    FcRange* range = nullptr;
    double begin = 0, end = 0;
    if (FcPatternGetRange(pattern, object, 0, &range) == FcResultMatch &&
        FcRangeGetDouble(range, &begin, &end))
        return (begin + end) / 2;
    return fallback;
}

bool boolOf(FcPattern* pattern, const char* object)
{
    FcBool value = FcFalse;
    return FcPatternGetBool(pattern, object, 0, &value) == FcResultMatch && value;
}

std::optional<FaceLocation> locationOf(FcPattern* pattern)
{
    auto path = stringOf(pattern, FC_FILE);
    if (!path)
        return std::nullopt;
    int index = 0;
    FcPatternGetInteger(pattern, FC_INDEX, 0, &index);
    return FaceLocation{std::move(*path), static_cast<uint32_t>(std::max(index, 0))};
}

bool hasValue(FcPattern* pattern, const char* object, const std::string& value, bool ignoreCase)
{
    FcChar8* candidate = nullptr;
    for (int i = 0; FcPatternGetString(pattern, object, i, &candidate) == FcResultMatch; ++i) {
        const bool same = ignoreCase ? FcStrCmpIgnoreCase(candidate, fcString(value)) == 0
                                     : FcStrCmp(candidate, fcString(value)) == 0;
        if (same)
            return true;
    }
    return false;
}

// A variable font is listed once as a whole and once per named instance; only the instances
// (and plain static faces) are picked by name or style, so the chosen weight is the one drawn.
bool isVariableWhole(FcPattern* pattern)
{
    return boolOf(pattern, FC_VARIABLE);
}

// The application's fonts first, then the system's: on equal merit the bundled face wins.
template <typename Visit> void forEachFace(FcConfig* config, Visit&& visit)
{
    for (FcSetName which : {FcSetApplication, FcSetSystem}) {
        FcFontSet* set = FcConfigGetFonts(config, which);
        if (!set)
            continue;
        for (int i = 0; i < set->nfont; ++i) {
            if (!isVariableWhole(set->fonts[i]))
                visit(set->fonts[i]);
        }
    }
}

// How far a face is from a wanted weight and width; 0 is an exact match.
double styleDistance(FcPattern* pattern, double weight)
{
    const double width = numberOf(pattern, FC_WIDTH, FC_WIDTH_NORMAL);
    const bool oblique = numberOf(pattern, FC_SLANT, FC_SLANT_ROMAN) == FC_SLANT_OBLIQUE;
    // Width counts more than weight: a condensed regular is a worse match than a medium.
    return std::abs(numberOf(pattern, FC_WEIGHT, FC_WEIGHT_REGULAR) - weight) +
           4 * std::abs(width - FC_WIDTH_NORMAL) + (oblique ? 1 : 0);
}

// The slant fontconfig's rules give `upright` when it answers an italic request for `family`
// (Debian's 90-synthetic.conf shears by 0.2); `defaultObliqueShear` where they give none, or
// a lean no text has.
double obliqueShearLocked(FcConfig* config, FcPattern* upright, const std::string& family, double weight)
{
    FcPattern* request = FcPatternCreate();
    FcPatternAddString(request, FC_FAMILY, fcString(family));
    FcPatternAddInteger(request, FC_SLANT, FC_SLANT_ITALIC);
    FcPatternAddDouble(request, FC_WEIGHT, weight);
    FcConfigSubstitute(config, request, FcMatchPattern);
    FcDefaultSubstitute(request);
    double shear = FontRegistry::defaultObliqueShear;
    if (FcPattern* prepared = FcFontRenderPrepare(config, request, upright)) {
        FcMatrix* matrix = nullptr;
        if (FcPatternGetMatrix(prepared, FC_MATRIX, 0, &matrix) == FcResultMatch && matrix &&
            matrix->xy > 0 && matrix->xy <= 1)
            shear = matrix->xy;
        FcPatternDestroy(prepared);
    }
    FcPatternDestroy(request);
    return shear;
}

} // namespace

struct FallbackList::Impl
{
    struct Entry
    {
        FaceLocation location;
        FcCharSet* charset = nullptr;
    };
    std::vector<Entry> entries;
};

FallbackList::FallbackList(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

FallbackList::~FallbackList()
{
    Catalogue& cat = catalogue();
    MutexLock lock(cat.mutex);
    for (Impl::Entry& entry : impl_->entries)
        FcCharSetDestroy(entry.charset);
}

std::optional<FaceLocation> FallbackList::firstCovering(std::u32string_view scalars) const
{
    // The character sets are copies this list owns and nothing changes them: reading them needs
    // no lock.
    for (const Impl::Entry& entry : impl_->entries) {
        bool covers = true;
        for (char32_t scalar : scalars) {
            if (!FcCharSetHasChar(entry.charset, scalar)) {
                covers = false;
                break;
            }
        }
        if (covers)
            return entry.location;
    }
    return std::nullopt;
}

size_t FallbackList::size() const
{
    return impl_->entries.size();
}

bool FontRegistry::registerFile(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(path, error);
    if (error || !std::filesystem::is_regular_file(canonical, error))
        return false;
    Catalogue& cat = catalogue();
    MutexLock lock(cat.mutex);
    if (cat.registered.count(canonical.string()))
        return true;
    FcConfig* config = configLocked(cat);
    if (!config || !FcConfigAppFontAddFile(config, fcString(canonical.string())))
        return false;
    cat.registered.insert(canonical.string());
    return true;
}

std::optional<FaceLocation> FontRegistry::findNamed(std::string_view name)
{
    if (name.empty())
        return std::nullopt;
    const std::string wanted(name);
    Catalogue& cat = catalogue();
    MutexLock lock(cat.mutex);
    FcConfig* config = configLocked(cat);
    if (!config)
        return std::nullopt;

    // A PostScript name names one face exactly; a full name nearly so. The first found wins.
    std::optional<FaceLocation> found;
    for (const bool fullName : {false, true}) {
        const char* object = fullName ? FC_FULLNAME : FC_POSTSCRIPT_NAME;
        const bool ignoreCase = fullName;
        forEachFace(config, [&](FcPattern* pattern) {
            if (!found && hasValue(pattern, object, wanted, ignoreCase))
                found = locationOf(pattern);
        });
        if (found)
            return found;
    }

    // A family name gives the family's upright regular face, or the nearest to it.
    double best = INFINITY;
    forEachFace(config, [&](FcPattern* pattern) {
        if (!hasValue(pattern, FC_FAMILY, wanted, true))
            return;
        const double slantPenalty = numberOf(pattern, FC_SLANT, FC_SLANT_ROMAN) == FC_SLANT_ROMAN ? 0 : 1000;
        const double distance = styleDistance(pattern, FC_WEIGHT_REGULAR) + slantPenalty;
        if (distance < best) {
            if (auto location = locationOf(pattern)) {
                best = distance;
                found = std::move(location);
            }
        }
    });
    return found;
}

std::optional<FaceLocation> FontRegistry::findMonospace()
{
    Catalogue& cat = catalogue();
    MutexLock lock(cat.mutex);
    FcConfig* config = configLocked(cat);
    if (!config)
        return std::nullopt;
    FcPattern* pattern = FcPatternCreate();
    FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("monospace"));
    FcPatternAddInteger(pattern, FC_WEIGHT, FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, FC_SLANT_ROMAN);
    FcConfigSubstitute(config, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(config, pattern, &result);
    std::optional<FaceLocation> found;
    if (match) {
        found = locationOf(match);
        FcPatternDestroy(match);
    }
    FcPatternDestroy(pattern);
    return found;
}

std::optional<StyledFace> FontRegistry::findStyle(std::string_view family, FontTraits traits,
                                                  int regularWeight)
{
    const std::string wanted(family);
    const double weight = traits.bold ? FC_WEIGHT_BOLD : regularWeight;
    Catalogue& cat = catalogue();
    MutexLock lock(cat.mutex);
    FcConfig* config = configLocked(cat);
    if (!config || wanted.empty())
        return std::nullopt;
    // The family's face of one slant nearest the weight; the pattern belongs to the configuration.
    const auto nearest = [&](bool italic) {
        FcPattern* found = nullptr;
        double best = INFINITY;
        forEachFace(config, [&](FcPattern* pattern) {
            if (!hasValue(pattern, FC_FAMILY, wanted, true) || !locationOf(pattern))
                return;
            if ((numberOf(pattern, FC_SLANT, FC_SLANT_ROMAN) != FC_SLANT_ROMAN) != italic)
                return;
            // A family without a bold face gives no bold: the caller keeps its regular face rather
            // than take a medium one that looks the same.
            if (traits.bold && numberOf(pattern, FC_WEIGHT, FC_WEIGHT_REGULAR) < FC_WEIGHT_DEMIBOLD)
                return;
            const double distance = styleDistance(pattern, weight);
            if (distance < best) {
                best = distance;
                found = pattern;
            }
        });
        return found;
    };
    if (FcPattern* face = nearest(traits.italic))
        return StyledFace{*locationOf(face), 0};
    if (!traits.italic)
        return std::nullopt;
    // No italic face: the upright one, slanted. A colour face's pictures are not text to lean.
    FcPattern* upright = nearest(false);
    if (!upright || boolOf(upright, FC_COLOR))
        return std::nullopt;
    return StyledFace{*locationOf(upright), obliqueShearLocked(config, upright, wanted, weight)};
}

std::shared_ptr<const FallbackList> FontRegistry::fallbackList(std::string_view family, FontTraits traits,
                                                               bool color)
{
    auto impl = std::make_unique<FallbackList::Impl>();
    Catalogue& cat = catalogue();
    MutexLock lock(cat.mutex);
    FcConfig* config = configLocked(cat);
    if (config) {
        FcPattern* pattern = FcPatternCreate();
        const std::string wanted(family);
        if (!wanted.empty())
            FcPatternAddString(pattern, FC_FAMILY, fcString(wanted));
        // Behind the font's own family, fixed-pitch faces: in a terminal a monospaced fallback
        // sits in its cells better than a proportional one with the same characters.
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>("monospace"));
        FcPatternAddInteger(pattern, FC_WEIGHT, traits.bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, traits.italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        // Colour outranks character coverage and family in fontconfig's sort: asking for colour
        // puts the emoji faces first, asking against it puts them last.
        FcPatternAddBool(pattern, FC_COLOR, color ? FcTrue : FcFalse);
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcFontSet* sorted = FcFontSort(config, pattern, FcTrue, nullptr, &result);
        if (sorted) {
            for (int i = 0; i < sorted->nfont; ++i) {
                FcCharSet* charset = nullptr;
                auto location = locationOf(sorted->fonts[i]);
                if (!location ||
                    FcPatternGetCharSet(sorted->fonts[i], FC_CHARSET, 0, &charset) != FcResultMatch)
                    continue;
                impl->entries.push_back({std::move(*location), FcCharSetCopy(charset)});
            }
            FcFontSetDestroy(sorted);
        }
        FcPatternDestroy(pattern);
    }
    lock.unlock();
    return std::shared_ptr<const FallbackList>(new FallbackList(std::move(impl)));
}

FaceDescription FontRegistry::describe(FT_FaceRec_* face, const FaceLocation& location)
{
    FaceDescription description;
    Catalogue& cat = catalogue();
    MutexLock lock(cat.mutex);
    FcPattern* pattern =
        FcFreeTypeQueryFace(face, fcString(location.path), static_cast<unsigned>(location.index), nullptr);
    if (pattern) {
        description.family = stringOf(pattern, FC_FAMILY).value_or("");
        description.style = stringOf(pattern, FC_STYLE).value_or("");
        description.postScriptName = stringOf(pattern, FC_POSTSCRIPT_NAME).value_or("");
        description.weight = static_cast<int>(std::lround(numberOf(pattern, FC_WEIGHT, FC_WEIGHT_REGULAR)));
        description.italic = numberOf(pattern, FC_SLANT, FC_SLANT_ROMAN) != FC_SLANT_ROMAN;
        description.monospace = numberOf(pattern, FC_SPACING, FC_PROPORTIONAL) >= FC_MONO;
        description.color = boolOf(pattern, FC_COLOR);
        FcPatternDestroy(pattern);
        return description;
    }
    // Fontconfig could not read the face; FreeType's own names are the next best thing.
    description.family = face->family_name ? face->family_name : "";
    description.style = face->style_name ? face->style_name : "";
    if (const char* postScript = FT_Get_Postscript_Name(face))
        description.postScriptName = postScript;
    description.weight = (face->style_flags & FT_STYLE_FLAG_BOLD) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR;
    description.italic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    description.monospace = FT_IS_FIXED_WIDTH(face);
    description.color = FT_HAS_COLOR(face);
    return description;
}

} // namespace platform
