#include "Font.h"

#include "Platform/Text/FontFace.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <hb-ot.h>
#include <hb.h>

namespace platform {

namespace {

// One counter for the whole process: ids are never reused, unlike addresses.
std::atomic<uint64_t> nextFontId{1};

bool isUsableSize(double pointSize)
{
    return std::isfinite(pointSize) && pointSize > 0 && pointSize <= Font::largestPointSize;
}

// The regular weight on fontconfig's scale, and the lightest weight that counts as bold.
constexpr int regularWeight = 80;
constexpr int boldThreshold = 180;

} // namespace

FontRef Font::make(std::shared_ptr<FontFace> face, double pointSize, double obliqueShear)
{
    if (!face || !isUsableSize(pointSize))
        return nullptr;
    return std::make_shared<const Font>(Token{}, std::move(face), pointSize, obliqueShear);
}

FontRef Font::atLocation(const FaceLocation& location, double pointSize)
{
    if (!isUsableSize(pointSize))
        return nullptr;
    return make(FontFace::open(location), pointSize);
}

FontRef Font::fromFile(const std::string& path, uint32_t faceIndex, double pointSize)
{
    return atLocation(FaceLocation{path, faceIndex}, pointSize);
}

// The constructors check the size before anything is looked up or opened: a bad size must
// cost nothing and leave no face open.
FontRef Font::named(std::string_view name, double pointSize)
{
    if (!isUsableSize(pointSize))
        return nullptr;
    const auto location = FontRegistry::findNamed(name);
    return location ? atLocation(*location, pointSize) : nullptr;
}

FontRef Font::monospace(double pointSize)
{
    if (!isUsableSize(pointSize))
        return nullptr;
    const auto location = FontRegistry::findMonospace();
    return location ? atLocation(*location, pointSize) : nullptr;
}

Font::Font(Token, std::shared_ptr<FontFace> face, double pointSize, double obliqueShear)
    : id_(nextFontId.fetch_add(1, std::memory_order_relaxed)), face_(std::move(face)), pointSize_(pointSize),
      obliqueShear_(std::isfinite(obliqueShear) ? obliqueShear : 0)
{
    const FaceLocation& location = face_->location();
    valueHash_ = std::hash<std::string>()(location.path) ^ (std::hash<uint32_t>()(location.index) * 31) ^
                 (std::hash<double>()(pointSize_) * 131) ^ (std::hash<double>()(obliqueShear_) * 8191);
    hbFont_ = hb_font_create(face_->harfBuzzFace());
    const int scale = static_cast<int>(std::max(1L, std::lround(pointSize_ * unitsPerPoint)));
    hb_font_set_scale(hbFont_, scale, scale);
    if (face_->namedInstance() > 0)
        hb_font_set_var_named_instance(hbFont_, face_->namedInstance() - 1);
    // The shaper moves marks along the slant, so an accent stays over its leaning letter.
    hb_font_set_synthetic_slant(hbFont_, float(obliqueShear_));
    // Immutable from here on: HarfBuzz then allows shaping and measuring from any thread at once.
    hb_font_make_immutable(hbFont_);

    // Metrics are read once, here, from the font's own tables (hhea or OS/2 as the font asks);
    // where a font lacks one (no cap height in an old font), HarfBuzz's estimate stands in, so
    // every field is usable without a check at the caller.
    const auto position = [this](hb_ot_metrics_tag_t tag) {
        hb_position_t value = 0;
        hb_ot_metrics_get_position_with_fallback(hbFont_, tag, &value);
        return double(value) / unitsPerPoint;
    };
    metrics_.ascent = position(HB_OT_METRICS_TAG_HORIZONTAL_ASCENDER);
    // HarfBuzz's descender is a y-up offset (negative); the metrics give it as a distance.
    metrics_.descent = -position(HB_OT_METRICS_TAG_HORIZONTAL_DESCENDER);
    // A negative line gap is a font error; no line should be drawn closer for it.
    metrics_.leading = std::max(0.0, position(HB_OT_METRICS_TAG_HORIZONTAL_LINE_GAP));
    metrics_.underlinePosition = position(HB_OT_METRICS_TAG_UNDERLINE_OFFSET);
    metrics_.underlineThickness = position(HB_OT_METRICS_TAG_UNDERLINE_SIZE);
    metrics_.capHeight = position(HB_OT_METRICS_TAG_CAP_HEIGHT);
    metrics_.xHeight = position(HB_OT_METRICS_TAG_X_HEIGHT);
}

Font::~Font()
{
    hb_font_destroy(hbFont_);
}

FontRef Font::withSize(double pointSize) const
{
    // The face is shared; only the HarfBuzz font and the metrics are made again.
    if (pointSize == pointSize_)
        return shared_from_this();
    return make(face_, pointSize, obliqueShear_);
}

FontRef Font::withTraits(FontTraits traits) const
{
    const FontTraits current = this->traits();
    if (traits == current)
        return shared_from_this();
    // The weight a non-bold face of the family should have: this font's own, unless this font is
    // the bold one, in which case plain regular.
    const int plainWeight = current.bold ? regularWeight : weight();
    const auto found = FontRegistry::findStyle(familyName(), traits, plainWeight);
    if (!found || (found->location == face_->location() && found->obliqueShear == obliqueShear_))
        return shared_from_this();
    // The same face at another slant shares this font's face; another face is opened.
    FontRef styled = make(found->location == face_->location() ? face_ : FontFace::open(found->location),
                          pointSize_, found->obliqueShear);
    return styled ? styled : shared_from_this();
}

std::optional<GlyphId> Font::glyph(char32_t scalar) const
{
    // Glyph 0 is the missing-glyph box: a character map that points there has no glyph for the
    // character, and the fallback cascade must look elsewhere.
    hb_codepoint_t glyph = 0;
    if (!hb_font_get_nominal_glyph(hbFont_, scalar, &glyph) || glyph == 0)
        return std::nullopt;
    return glyph;
}

bool Font::hasGlyph(char32_t scalar) const
{
    return glyph(scalar).has_value();
}

std::optional<GlyphId> Font::glyphNamed(std::string_view name) const
{
    hb_codepoint_t glyph = 0;
    if (name.empty() || !hb_font_get_glyph_from_name(hbFont_, name.data(), int(name.size()), &glyph))
        return std::nullopt;
    return glyph;
}

double Font::advance(GlyphId glyph) const
{
    return double(hb_font_get_glyph_h_advance(hbFont_, glyph)) / unitsPerPoint;
}

GlyphBounds Font::bounds(GlyphId glyph) const
{
    hb_glyph_extents_t extents{};
    if (!hb_font_get_glyph_extents(hbFont_, glyph, &extents))
        return {};
    // HarfBuzz gives the top-left corner with a negative height (y-up); make it a rectangle whose
    // origin is the bottom-left corner and whose sides are positive.
    double x = extents.x_bearing, width = extents.width;
    double top = extents.y_bearing, height = -double(extents.height);
    if (width < 0) {
        x += width;
        width = -width;
    }
    double y = top - height;
    if (height < 0) {
        y = top;
        height = -height;
    }
    // HarfBuzz gives the upright outline's box; a slant moves each point right by its height
    // times the shear, so the box's left edge follows its lower corner and its right edge its
    // upper one (the other way round for a leftward slant).
    if (obliqueShear_ != 0) {
        const double low = obliqueShear_ * y, high = obliqueShear_ * (y + height);
        x += std::min(low, high);
        width += std::abs(high - low);
    }
    return {x / unitsPerPoint, y / unitsPerPoint, width / unitsPerPoint, height / unitsPerPoint};
}

FontTraits Font::traits() const
{
    return {weight() >= boldThreshold, isItalic()};
}

bool Font::isColor() const
{
    return face_->description().color;
}

bool Font::isMonospace() const
{
    return face_->description().monospace;
}

bool Font::isSameFont(const Font& other) const
{
    return face_ == other.face_ && pointSize_ == other.pointSize_ && obliqueShear_ == other.obliqueShear_;
}

const std::string& Font::familyName() const
{
    return face_->description().family;
}

const std::string& Font::styleName() const
{
    return face_->description().style;
}

const std::string& Font::postScriptName() const
{
    return face_->description().postScriptName;
}

int Font::weight() const
{
    return face_->description().weight;
}

bool Font::isItalic() const
{
    return face_->description().italic || obliqueShear_ != 0;
}

const std::string& Font::filePath() const
{
    return face_->location().path;
}

uint32_t Font::faceIndex() const
{
    return face_->location().index;
}

bool Font::hasTable(uint32_t tag) const
{
    // HarfBuzz gives an empty blob for a missing table; a present table is never empty.
    hb_blob_t* blob = hb_face_reference_table(face_->harfBuzzFace(), tag);
    const bool present = hb_blob_get_length(blob) > 0;
    hb_blob_destroy(blob);
    return present;
}

std::vector<uint8_t> Font::table(uint32_t tag) const
{
    hb_blob_t* blob = hb_face_reference_table(face_->harfBuzzFace(), tag);
    unsigned length = 0;
    const char* data = hb_blob_get_data(blob, &length);
    std::vector<uint8_t> bytes(data, data + (data ? length : 0));
    hb_blob_destroy(blob);
    return bytes;
}

void Font::withFreeTypeFace(const std::function<void(FT_FaceRec_*)>& body) const
{
    face_->withFreeTypeFace([&](FT_FaceRec_* face) { body(face); });
}

} // namespace platform
