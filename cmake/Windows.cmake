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
target_include_directories(Kestrel PRIVATE MySUtils Kestrel res ${CMAKE_CURRENT_BINARY_DIR})
target_link_libraries(Kestrel PRIVATE advapi32 shell32 user32)

if(MSVC)
    # The manifest comes from Kestrel.rc; a second one from the linker would clash.
    target_link_options(Kestrel PRIVATE /MANIFEST:NO)
else()
    # Static runtime: only system DLLs are imported. Sized for a small download,
    # and the same bytes from the same source wherever and whenever it is built.
    target_compile_options(Kestrel PRIVATE -Os -ffunction-sections -fdata-sections
                           -ffile-prefix-map=${CMAKE_SOURCE_DIR}=.)
    target_link_options(Kestrel PRIVATE -static -s -Wl,--gc-sections -Wl,--dynamicbase -Wl,--nxcompat
                        -Wl,--no-insert-timestamp)
endif()

option(KESTREL_TEST_PROGRAMS "Build the test doubles and the benchmark's empty program" ON)
if(KESTREL_TEST_PROGRAMS AND NOT MSVC)
    add_subdirectory(tests/doubles)
    add_executable(EmptyProgram WIN32 scripts/EmptyProgram.cpp)
    target_link_options(EmptyProgram PRIVATE -static -s)
endif()
