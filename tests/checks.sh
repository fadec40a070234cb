#!/usr/bin/env bash
# The checks a C++ reviewer runs, each a case of the test command:
#
#   checks.sh format|clang|tidy|sanitizers SOURCE BUILD VERSION
#
#   format      the product, unit tests and doubles follow .clang-format
#   clang       the product built by clang and lld for 32-bit Windows passes the exe check
#   tidy        .clang-tidy finds nothing in the product's sources for that target
#   sanitizers  the unit tests pass under AddressSanitizer and UndefinedBehaviorSanitizer
#
# clang 19 throughout, as Debian 12 and 13 both ship it. Each runs below the
# end-to-end cases beside it in priority, as the bounded wait's timing is checked.
set -euo pipefail
check=$1 source=$2 build=$3 version=$4
cd "$source"
renice -n 10 $$ >/dev/null
# For the product's target, from its build's compile commands.
configure() {
    cmake -S . -B "$1" --toolchain cmake/clang-mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release \
        -DKESTREL_TEST_PROGRAMS=OFF -DCMAKE_EXPORT_COMPILE_COMMANDS=ON >/dev/null
}
case $check in
format)
    clang-format-19 --dry-run --Werror Kestrel/*.cpp Kestrel/*.h MySUtils/*.cpp MySUtils/*.h tests/unit/*.cpp \
        tests/doubles/*.cpp
    ;;
clang)
    configure "$build/clang-i686"
    cmake --build "$build/clang-i686" -j "$(nproc)"
    /usr/bin/python3 tests/check_exe.py "$build/clang-i686/Kestrel.exe" "$version"
    ;;
tidy)
    configure "$build/clang-tidy"
    # Less the counts of what it left unsaid in system headers.
    run-clang-tidy-19 -p "$build/clang-tidy" -quiet "$source/(Kestrel|MySUtils)/" 2>&1 |
        { grep -v ' warnings generated\.$' || true; }
    ;;
sanitizers)
    cmake --build "$build" --target UnitTestsSanitized
    "$build/tests/UnitTestsSanitized" --gtest_brief=1
    ;;
esac
