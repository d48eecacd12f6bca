// Placeholder until the segmenter lands: every scalar is its own cluster.
#include "Kestrovan/GraphemeBreak.h"

namespace kestrovan {

size_t graphemeClusterLength(std::u32string_view text, size_t from)
{
    return from < text.size() ? 1 : 0;
}

size_t graphemeCount(std::u32string_view text)
{
    return text.size();
}

Character firstCharacter(std::u32string_view text)
{
    return text.empty() ? Character() : Character(text.front());
}

} // namespace kestrovan
