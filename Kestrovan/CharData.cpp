#include "Kestrovan/CharData.h"

#include "Kestrovan/Fatal.h"
#include "Kestrovan/GraphemeBreak.h"
#include "Kestrovan/Utf8.h"

namespace kestrovan {

const CharData& CharData::Null()
{
    static const CharData null;
    return null;
}

void CharData::setValue(int32_t newCode, int size)
{
    // The width is stored in 8 bits; a larger value is a caller's bug, not input to clamp.
    KESTROVAN_ASSERT(size >= -128 && size <= 127, "CharData: width out of range");
    code = newCode;
    graphemeScalarValues.reset();
    width = static_cast<int8_t>(size);
    widthStateCode = widthStateFor(size);
}

void CharData::setCharacter(const Character& character, int size)
{
    KESTROVAN_ASSERT(size >= -128 && size <= 127, "CharData: width out of range");
    code = static_cast<int32_t>(character.firstScalar());
    if (character.scalars.size() >= 2)
        graphemeScalarValues = character.scalars;
    else
        graphemeScalarValues.reset();
    width = static_cast<int8_t>(size);
    widthStateCode = widthStateFor(size);
}

std::u32string CharData::textScalars() const
{
    // A cell must always render as something: an invalid scalar anywhere becomes one space.
    if (!graphemeScalarValues) {
        if (code < 0 || !isValidScalar(static_cast<char32_t>(code)))
            return U" ";
        return std::u32string(1, static_cast<char32_t>(code));
    }
    for (char32_t scalar : *graphemeScalarValues) {
        if (!isValidScalar(scalar))
            return U" ";
    }
    return *graphemeScalarValues;
}

std::string CharData::getText() const
{
    return utf8String(textScalars());
}

Character CharData::getCharacter() const
{
    const std::u32string scalars = textScalars();
    if (scalars.empty())
        return Character(U' ');
    return firstCharacter(scalars);
}

std::string CharData::debugDescription() const
{
    std::string out = "CharData: " + std::to_string(code) + " ";
    if (code >= 0 && isValidScalar(static_cast<char32_t>(code)))
        appendUtf8(out, static_cast<char32_t>(code));
    else
        out += '?';
    return out;
}

} // namespace kestrovan
