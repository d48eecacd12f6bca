#include "Kestrovan/SemanticContent.h"

namespace kestrovan {

std::string SemanticContent::description() const
{
    switch (case_) {
    case Case::prompt:
        return "prompt(" + std::string(kestrovan::description(kind_)) + ")";
    case Case::input:
        return "input";
    case Case::output:
        return "output";
    case Case::none:
        break;
    }
    return "none";
}

} // namespace kestrovan
