// Points fontconfig at the tests' own configuration before anything in the test process reads
// fonts: the fonts every test sees are the ones tools/setup installs, not whatever else the
// machine has (TestFontconfig.cmake writes the file). Linked into every test binary.
#include <cstdlib>

namespace {

[[maybe_unused]] const bool testFontconfigInstalled = [] {
    // Fontconfig reads the variable when it first loads its configuration, which no code does
    // before main; GTK and the text layer both load it lazily.
    return setenv("FONTCONFIG_FILE", KESTROVAN_TEST_FONTCONFIG_FILE, 1) == 0;
}();

} // namespace
