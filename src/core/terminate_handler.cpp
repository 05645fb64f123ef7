// The 32-bit DLL's handler for an exception nothing catches (which the
// library never lets happen: the compiler's exceptions are caught where
// they arise).  The C++ runtime's default prints the exception's demangled
// type, and its demangler brings mingw-w64's printf, whose long double
// code is x87 arithmetic, into a library that must have none
// (tools/check_x87.sh).  This one only aborts.
#if defined(_WIN32) && defined(__i386__) && defined(__GNUC__)
#include <cstdlib>

namespace __gnu_cxx {
[[noreturn]] void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif
