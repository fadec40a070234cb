# 32-bit Windows with clang and lld over Debian's mingw-w64 headers and
# libraries: a second compiler for the product, whose exe must pass the same
# checks as the shipped one. clang 19, as Debian 12 and 13 both have it.
include(${CMAKE_CURRENT_LIST_DIR}/mingw-i686.cmake)
set(CMAKE_C_COMPILER clang-19)
set(CMAKE_CXX_COMPILER clang++-19)
set(CMAKE_C_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_CXX_COMPILER_TARGET i686-w64-mingw32)
set(CMAKE_EXE_LINKER_FLAGS_INIT -fuse-ld=lld)
# CMake links MinGW programs through an archive of their objects, for GNU ld's
# sake; that archive would need LLVM's own ar to index bitcode. lld needs none.
set(CMAKE_USER_MAKE_RULES_OVERRIDE ${CMAKE_CURRENT_LIST_DIR}/clang-link-rule.cmake)
