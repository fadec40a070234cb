# The host build: unit tests of the platform-free code, the two Windows builds
# as sub-builds, and the end-to-end tests that run the 64-bit one under Wine.
include(ExternalProject)
enable_testing()

foreach(arch i686 x86_64)
    ExternalProject_Add(kestrel-${arch}
        SOURCE_DIR ${CMAKE_SOURCE_DIR}
        BINARY_DIR ${CMAKE_BINARY_DIR}/${arch}
        CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${CMAKE_SOURCE_DIR}/cmake/mingw-${arch}.cmake
                   -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
        INSTALL_COMMAND ""
        BUILD_ALWAYS ON)
endforeach()
set(KESTREL_EXE_32 ${CMAKE_BINARY_DIR}/i686/Kestrel.exe)
set(KESTREL_EXE_64 ${CMAKE_BINARY_DIR}/x86_64/Kestrel.exe)
set(KESTREL_DOUBLES_64 ${CMAKE_BINARY_DIR}/x86_64/tests/doubles)

add_subdirectory(tests)
