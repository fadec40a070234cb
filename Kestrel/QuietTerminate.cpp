// libstdc++'s default terminate handler names the uncaught exception on the
// standard error stream, which a GUI program does not have, and brings in the
// C++ demangler to do it: a sixth of the download. This one only ends the
// process, as that one does after printing.
#include <cstdlib>
#include <exception> // declares the handler, so that a wrong signature fails to build

#if defined(__GLIBCXX__)
namespace __gnu_cxx {
// NOLINTNEXTLINE(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp): libstdc++'s own name, replaced
void __verbose_terminate_handler()
{
    std::abort();
}
} // namespace __gnu_cxx
#endif
