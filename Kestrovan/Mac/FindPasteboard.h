// The find pasteboard: the term the last search used, shared by every terminal view of the process,
// so that Find Next in one view looks for what was searched in another.
//
// It is one string kept in memory, never a clipboard of the display: what the user searched for is
// not offered to other programs, and a copy never changes the search. Main thread only.
#pragma once

#include <optional>
#include <string>

namespace kestrovan {

class FindPasteboard
{
public:
    /// The term, or none before any search (and after `clear`).
    static std::optional<std::string> string() { return storage(); }
    static void setString(std::string term) { storage() = std::move(term); }
    static void clear() { storage().reset(); }

private:
    static std::optional<std::string>& storage()
    {
        static std::optional<std::string> term;
        return term;
    }
};

} // namespace kestrovan
