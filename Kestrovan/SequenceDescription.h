// Small readers and printers shared by the control-sequence handlers: matching the intermediate
// bytes of a sequence, and the decimal lists the "Info: ..." lines print for sequences the
// terminal does not handle.
#pragma once

#include "Kestrovan/CsiParameters.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace kestrovan {

/// True when the collected intermediate (or private-marker) bytes are exactly `expected`.
bool collectIs(std::span<const uint8_t> collect, std::string_view expected);

/// "[27, 40]": bytes in decimal, as the unknown-sequence reports print them.
std::string describeBytes(std::span<const uint8_t> bytes);

/// "[22, 0]": the parameters of a CSI sequence in decimal.
std::string describeParameters(const CsiParameters& pars);

} // namespace kestrovan
