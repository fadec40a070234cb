# The Windows program, built by mingw-w64 or MSVC.
enable_language(RC)
add_compile_definitions(WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601 WINVER=0x0601)

add_executable(Kestrel WIN32
    ${KESTREL_CORE_SOURCES}
    MySUtils/FormatPattern.cpp
    MySUtils/SystemQueries.cpp
    MySUtils/RunAndWait.cpp
    Kestrel/GatherSystemFacts.cpp
    Kestrel/ReportFileCalls.cpp
    Kestrel/OfferInventory.cpp
    Kestrel/Main.cpp
    Kestrel/QuietTerminate.cpp
    res/Kestrel.rc)
configure_file(res/Version.h.in Version.h)
# windres's dependencies are not scanned: a changed manifest or icon must still rebuild.
set_source_files_properties(res/Kestrel.rc PROPERTIES
    OBJECT_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/res/Kestrel.manifest;${CMAKE_CURRENT_SOURCE_DIR}/res/Kestrel.ico")
target_include_directories(Kestrel PRIVATE MySUtils Kestrel res ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(Kestrel PRIVATE advapi32 ole32 shell32 user32)

# Hardened as scanners of downloads expect: ASLR, DEP, stack cookies, no
# exception handlers that an overflow could plant, and a header that asks for
# Windows 7, as the manifest does.
if(MSVC)
    # The manifest comes from Kestrel.rc; a second one from the linker would clash.
    # /GS, /DYNAMICBASE and /NXCOMPAT are MSVC's defaults; /SAFESEH gives the
    # table of handlers that mingw-w64's NO_SEH stands for.
    target_compile_options(Kestrel PRIVATE /guard:cf)
    target_link_options(Kestrel PRIVATE /MANIFEST:NO /SAFESEH /guard:cf /SUBSYSTEM:WINDOWS,6.01)
else()
    # Static runtime: only system DLLs are imported. Sized for a small download,
    # and the same bytes from the same source wherever and whenever it is built.
    # The stack protector is given to the link too, which then takes libssp in.
    # Link-time optimization pays for libssp within the size limit.
    target_compile_options(Kestrel PRIVATE -Os -ffunction-sections -fdata-sections
                           -ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -fstack-protector-strong -D_FORTIFY_SOURCE=2 -flto)
    target_link_options(Kestrel PRIVATE -static -s -Wl,--gc-sections -Wl,--dynamicbase -Wl,--nxcompat
                        -Wl,--no-insert-timestamp -flto -fstack-protector-strong -Wl,--no-seh
                        -Wl,--major-subsystem-version,6 -Wl,--minor-subsystem-version,1)
endif()

# clang-tidy beside the compiler, where asked for: each source is analysed when it is compiled,
# so a build analyses only what changed, a header's includers among it. A change of the checks,
# of clang-tidy or of the compiler analyses every source again. A finding fails the compile, so
# it is found again by every build until it is mended.
set(KESTREL_CLANG_TIDY "" CACHE STRING "clang-tidy to run on each source as it is compiled")
if(KESTREL_CLANG_TIDY)
    find_program(tidy ${KESTREL_CLANG_TIDY} REQUIRED)
    file(REAL_PATH ${tidy} tidy_file)
    file(REAL_PATH ${CMAKE_CXX_COMPILER} compiler_file)
    set_target_properties(Kestrel PROPERTIES CXX_CLANG_TIDY "${tidy};--quiet")
    # clang-tidy reads the include folders from the command line, not from a response file.
    set(CMAKE_CXX_USE_RESPONSE_FILE_FOR_INCLUDES OFF)
    get_target_property(sources Kestrel SOURCES)
    list(FILTER sources INCLUDE REGEX "\\.cpp$")
    set_source_files_properties(${sources} PROPERTIES
        OBJECT_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/.clang-tidy;${tidy_file};${compiler_file}")
endif()

option(KESTREL_TEST_PROGRAMS "Build the test doubles and the benchmark's empty program" ON)
if(KESTREL_TEST_PROGRAMS AND NOT MSVC)
    add_subdirectory(tests/doubles)
    add_executable(EmptyProgram WIN32 scripts/EmptyProgram.cpp)
    target_link_options(EmptyProgram PRIVATE -static -s)
endif()
