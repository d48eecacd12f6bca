// What the search service remembers between steps: the last term and options.
#pragma once

#include "Kestrovan/SearchOptions.h"

#include <optional>
#include <string>

namespace kestrovan {

struct SearchState
{
    /// The term of the last step; a step with the same term continues after the current match.
    std::optional<std::string> cachedSearchTerm;
    std::optional<SearchOptions> lastSearchOptions;
};

} // namespace kestrovan
