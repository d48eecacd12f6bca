// How long the platform tests wait for a condition before they fail: long enough for a loaded
// machine, reached only when something is wrong.
#pragma once

#include <chrono>

inline constexpr std::chrono::seconds patience{10};
