#include "Kestrovan/Position.h"

namespace kestrovan {

std::string Position::debugDescription() const
{
    return "col=" + std::to_string(col) + " row=" + std::to_string(row);
}

} // namespace kestrovan
