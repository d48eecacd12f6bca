#include "Kestrovan/SequenceDescription.h"

#include <algorithm>

namespace kestrovan {

bool collectIs(std::span<const uint8_t> collect, std::string_view expected)
{
    return collect.size() == expected.size() && std::equal(collect.begin(), collect.end(), expected.begin(),
                                                           [](uint8_t a, char b) { return a == uint8_t(b); });
}

namespace {

template <typename Values> std::string decimalList(const Values& values, size_t count)
{
    std::string out = "[";
    for (size_t i = 0; i < count; ++i) {
        if (i > 0)
            out += ", ";
        out += std::to_string(values[i]);
    }
    return out + "]";
}

} // namespace

std::string describeBytes(std::span<const uint8_t> bytes)
{
    return decimalList(bytes, bytes.size());
}

std::string describeParameters(const CsiParameters& pars)
{
    return decimalList(pars, size_t(pars.count));
}

} // namespace kestrovan
