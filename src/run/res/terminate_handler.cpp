// Windows build only. The C++ runtime's default terminate handler prints the
// demangled type of an escaped exception to stderr, which a program without
// a console never shows; it also links in the runtime's whole printf and
// demangler, and with them imports (IsDBCSLeadByteEx, wide-character
// conversions) that the installer itself never needs. The installer catches
// its one exception itself; should anything else ever escape, the process
// ends the same way, without the report.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
