#!/bin/bash
# Static checks: layout (clang-format), clang-tidy and cppcheck on the
# program's sources, the layering of its folders, and the conversions of
# its format strings. Takes a build directory with compile_commands.json.
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/host}
status=0
sources=$(git ls-files 'src/*.cpp')
all=$(git ls-files 'src/*.cpp' 'src/*.h' 'tests/unit/*.cpp' 'tests/unit/*.h')

echo "--- clang-format"
clang-format --dry-run -Werror $all || status=1

echo "--- clang-tidy"
out=$(clang-tidy -p "$build" --quiet --warnings-as-errors='*' $sources 2>&1) || status=1
echo "$out" | grep -v "warnings generated" || true

echo "--- cppcheck"
cppcheck --quiet --error-exitcode=1 --enable=warning,style,performance,portability \
    --inline-suppr --language=c++ --std=c++17 -I src $sources || status=1

# Includes go downward only: main > stage1, stage2 > image > mtd > base;
# the two stages never include each other.
echo "--- include layering"
level() { case $1 in base) echo 0 ;; mtd) echo 1 ;; image) echo 2 ;; stage1 | stage2) echo 3 ;; main) echo 4 ;; *) echo 9 ;; esac; }
for f in $(git ls-files 'src/*.cpp' 'src/*.h'); do
    from=$(echo "$f" | cut -d/ -f2)
    for to in $(grep -oP '^#include "\K[a-z0-9_]+(?=/)' "$f"); do
        if [ "$to" != "$from" ] && [ "$(level "$to")" -ge "$(level "$from")" ]; then
            echo "$f: includes $to/, which is not below $from/"
            status=1
        fi
    done
done

# The program's formatter knows only these conversions (src/base/text.h);
# the compiler's format check accepts every printf conversion.
echo "--- format conversions"
bad=$(perl -ne 'while (/"((?:[^"\\]|\\.)*)"/g) {
        my $lit = $1;
        while ($lit =~ /%(%|[-+ #0-9.*]*(?:hh|h|ll|l|z|j|t|L|q)?[a-zA-Z])/g) {
            my $c = $1;
            print "$ARGV:$.: unsupported conversion %$c\n" unless $c =~ /^(%|0?[0-9]*(?:ll)?[duxos])$/;
        }
    }
    close ARGV if eof' $(git ls-files 'src/*.cpp' 'src/*.h'))
if [ -n "$bad" ]; then
    echo "$bad"
    status=1
fi

exit $status
