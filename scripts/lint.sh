#!/bin/bash
# Static checks: layout (clang-format), clang-tidy and cppcheck on the
# program's sources. Takes a build directory with compile_commands.json.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/host}
status=0
sources=$(git ls-files 'src/*.cpp')
all=$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/unit/*.cpp' 'tests/unit/*.h')

echo "--- clang-format"
clang-format --dry-run -Werror $all || status=1

echo "--- clang-tidy"
clang-tidy -p "$build" --quiet --warnings-as-errors='*' $(git ls-files 'src/*.cpp') 2>&1 |
    grep -v "warnings generated" || true
clang-tidy -p "$build" --quiet --warnings-as-errors='*' $(git ls-files 'src/*.cpp') >/dev/null 2>&1 || status=1

echo "--- cppcheck"
cppcheck --quiet --error-exitcode=1 --enable=warning,style,performance,portability \
    --inline-suppr --language=c++ --std=c++17 -I src $sources || status=1

exit $status
