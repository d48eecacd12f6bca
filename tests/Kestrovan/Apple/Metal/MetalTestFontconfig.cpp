// Gives the test process its own fontconfig set-up (written by the build, see tests/CMakeLists.txt)
// before anything asks fontconfig: only the bundled terminal font and the generated test fonts, so
// that no font installed on the machine can change what a test sees. The tests load their fonts by
// file; this keeps any fallback search among the same few.
#include <cstdlib>

namespace {

const bool configured = [] { return setenv("FONTCONFIG_FILE", KESTROVAN_METAL_FONTCONFIG, 1) == 0; }();

} // namespace
