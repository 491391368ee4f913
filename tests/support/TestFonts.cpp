// Every test program draws text with the tests' own fonts (support/fonts.conf.in), whatever fonts
// the machine has: the configuration is named before anything asks fontconfig, and the programs
// and X servers the tests start inherit it.

#include <cstdlib>

namespace {

[[maybe_unused]] const bool kTestFonts = ::setenv("FONTCONFIG_FILE", KESU_TEST_FONTCONFIG, 1) == 0;

}  // namespace
