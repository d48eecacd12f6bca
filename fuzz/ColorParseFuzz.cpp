// Colour strings arrive from programs in OSC 4, 10, 11 and 12: both parsers must take any bytes,
// and every colour they accept must format to a reply that parses back to the same colour.
#include "Kestrovan/Color.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto lenient = kestrovan::Color::parseColor(std::span(data, size));
    auto strict = kestrovan::Color::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    // The strict parser only filters: what it accepts, the bytes parser reads the same way.
    if (strict && strict != lenient)
        std::abort();
    if (lenient && kestrovan::Color::parse(lenient->formatAsXcolor()) != lenient)
        std::abort();
    return 0;
}
