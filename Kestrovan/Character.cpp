#include "Kestrovan/Character.h"

#include "Kestrovan/Utf8.h"

namespace kestrovan {

std::string Character::utf8() const
{
    return utf8String(scalars);
}

} // namespace kestrovan
