// Which Unicode scalars count as hidden controls, and the one way this application shows them.
//
// Text that comes from programs or the file system (directory names in titles, pasted text in the
// review) may carry characters that act instead of showing: line breaks, escapes, bidirectional
// overrides, zero-width joiners. Titles and previews show each such scalar as "\u{" + its code
// point in upper-case hexadecimal + "}", so nothing hidden survives into what the user reads.
#pragma once

#include <string>
#include <string_view>

namespace vesk {

/// True for a scalar of general category Cc (C0, DEL, C1) or Cf (format characters such as
/// U+200D or the bidirectional overrides U+202A..U+202E and U+2066..U+2069).
bool isControlCharacter(char32_t scalar);

/// True for a scalar of the newline set: U+000A..U+000D, U+0085, U+2028 and U+2029.
bool isNewlineCharacter(char32_t scalar);

/// True for a control character or a newline character: what a terminal or a title could act on.
inline bool isTerminalControl(char32_t scalar)
{
    return isControlCharacter(scalar) || isNewlineCharacter(scalar);
}

/// Whether `escapedForDisplay` keeps line feeds as they are (the paste preview) or escapes them
/// like every other control (titles and tool tips).
enum class LineFeeds
{
    escape,
    keep,
};

/// `text` decoded as UTF-8 (ill-formed sequences become U+FFFD) with every terminal control
/// written as "\u{HEX}" (upper case, no leading zeros), except U+000A when `lineFeeds` keeps them.
std::string escapedForDisplay(std::string_view text, LineFeeds lineFeeds);

} // namespace vesk
