# The host build: unit tests of the platform-free code, the 32-bit Windows
# program as a mingw-w64 sub-build, and the end-to-end tests that run that very
# exe under Wine.
include(ExternalProject)
enable_testing()

ExternalProject_Add(kestrel-i686
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/i686
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-i686.cmake
               -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON)
# The same program by a second compiler, clang 19 with lld, built only by its checks, with
# clang-tidy run on each source as it is compiled.
ExternalProject_Add(kestrel-clang
    SOURCE_DIR ${CMAKE_SOURCE_DIR}
    BINARY_DIR ${CMAKE_BINARY_DIR}/clang-i686
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/clang-mingw-i686.cmake
               -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE} -DKESTREL_TEST_PROGRAMS=OFF -DKESTREL_CLANG_TIDY=clang-tidy-19
    INSTALL_COMMAND ""
    BUILD_ALWAYS ON
    EXCLUDE_FROM_ALL ON)
set(KESTREL_EXE ${CMAKE_BINARY_DIR}/i686/Kestrel.exe)
set(KESTREL_DOUBLES ${CMAKE_BINARY_DIR}/i686/tests/doubles)

add_subdirectory(tests)
