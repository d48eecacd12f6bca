#include "Kestrovan/Line.h"

namespace kestrovan {

void Line::add(LineFragment fragment)
{
    length += fragment.length;
    fragments.push_back(std::move(fragment));
}

std::optional<size_t> Line::getFragmentIndex(Position position) const
{
    for (size_t index = 0; index < fragments.size(); ++index) {
        const LineFragment& fragment = fragments[index];
        if (fragment.line == position.row && position.col >= fragment.location &&
            position.col < fragment.location + fragment.length)
            return index;
    }
    return std::nullopt;
}

std::string Line::toString() const
{
    std::string out;
    for (const LineFragment& fragment : fragments) {
        if (fragment.text)
            out += *fragment.text;
    }
    return out;
}

std::string Line::debugDescription() const
{
    // Newlines are escaped so that a line's description stays on one line of a log.
    if (fragments.empty())
        return "[]";
    std::string out = std::to_string(fragments.size()) + "/" + std::to_string(length) + ": [";
    for (const LineFragment& fragment : fragments) {
        if (fragment.text) {
            for (char c : *fragment.text) {
                if (c == '\n')
                    out += "\\n";
                else
                    out += c;
            }
        }
        out += "][";
    }
    return out;
}

} // namespace kestrovan
