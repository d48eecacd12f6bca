#include "UnicodeProperties.h"

#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>

namespace platform {

namespace {

bool isScalar(char32_t value)
{
    return value < 0xD800 || (value > 0xDFFF && value <= 0x10FFFF);
}

} // namespace

// Alphabetic rather than the letter categories: it also takes in the marks and letter-like
// numbers that belong inside words of scripts with combining vowels.
bool isLetter(char32_t scalar)
{
    return isScalar(scalar) && u_hasBinaryProperty(static_cast<UChar32>(scalar), UCHAR_ALPHABETIC);
}

bool isNumber(char32_t scalar)
{
    return isScalar(scalar) &&
           u_getIntPropertyValue(static_cast<UChar32>(scalar), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

void appendCaseFolded(std::u16string& out, std::u32string_view scalars)
{
    for (char32_t scalar : scalars) {
        if (scalar < 0x80) {
            // ASCII folds to lower case; the loop over long runs of it never reaches ICU.
            out.push_back(static_cast<char16_t>(scalar >= 'A' && scalar <= 'Z' ? scalar + 0x20 : scalar));
            continue;
        }
        if (!isScalar(scalar))
            scalar = 0xFFFD;
        // Full folding of one scalar yields at most three scalars (CaseFolding.txt, status F).
        UChar source[2];
        int32_t sourceLength = 0;
        U16_APPEND_UNSAFE(source, sourceLength, static_cast<UChar32>(scalar));
        UChar folded[8];
        UErrorCode error = U_ZERO_ERROR;
        const int32_t length = u_strFoldCase(folded, 8, source, sourceLength, U_FOLD_CASE_DEFAULT, &error);
        if (U_FAILURE(error) || length <= 0 || length > 8) {
            out.append(reinterpret_cast<const char16_t*>(source), static_cast<size_t>(sourceLength));
            continue;
        }
        out.append(reinterpret_cast<const char16_t*>(folded), static_cast<size_t>(length));
    }
}

std::u16string caseFolded(std::u16string_view text)
{
    std::u32string scalars;
    scalars.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        UChar32 scalar = 0;
        U16_NEXT(text.data(), i, text.size(), scalar);
        scalars.push_back(U_IS_SURROGATE(scalar) ? 0xFFFD : static_cast<char32_t>(scalar));
    }
    std::u16string out;
    out.reserve(text.size());
    appendCaseFolded(out, scalars);
    return out;
}

} // namespace platform
