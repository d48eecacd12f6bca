// Turns the paths of files dropped on a terminal into text a POSIX shell reads back as the same
// paths: a path of safe characters only is left bare, any other is wrapped in single quotes.
//
// Single quotes keep every byte, but the text then goes through the terminal's paste path, which
// turns control bytes (ESC, DEL, the terminal's interrupt, kill and word-erase characters and the
// like) into spaces and, without bracketed paste, line feeds into carriage returns, and refuses a
// line end it cannot bracket. A quoted name would then reach the shell as another, perhaps
// existing, file: dropping the file "a", Ctrl-C, "b" after "rm " would type rm 'a b'. So a path
// with any byte the paste path would change or refuse, in either bracketing mode, is not quoted at
// all, and neither is one that is not UTF-8 (the text is pasted as UTF-8 text). The caller beeps.
#pragma once

#include "Kestrovan/TerminalPasteControls.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

struct ShellQuoting
{
    /// One shell word for `text`: "''" for the empty text, `text` itself when every character is
    /// one of the 72 plain ones (ASCII letters, digits and "_@%+=:,./-"), else `text` in single
    /// quotes with each "'" written as '\''.
    static std::string argument(std::string_view text);

    /// True when the paste path passes every byte of `path` unchanged, in bracketed and unbracketed
    /// mode alike, and accepts it without review; `terminalControlBytes` are the special
    /// characters of the terminal the text would be pasted into.
    static bool survivesPaste(std::string_view path, const kestrovan::ByteSet& terminalControlBytes);

    /// The text to paste for dropped files: each path with the "." and ".." components folded
    /// away and trailing slashes dropped (the root stays "/"), quoted by `argument` and followed by
    /// one space, so the user can type on. None when any path is not UTF-8 or would not survive
    /// the paste path; the empty text for no paths.
    static std::optional<std::string> droppedFilesText(const std::vector<std::string>& paths,
                                                       const kestrovan::ByteSet& terminalControlBytes);

    /// `path` with "." and ".." components folded and every trailing slash after the first
    /// character dropped: "/tmp/./dir/../x/" gives "/tmp/x", "/" stays "/".
    static std::string standardizedPath(std::string_view path);
};

} // namespace vesk
