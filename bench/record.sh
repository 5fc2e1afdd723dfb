#!/bin/bash
# Puts standard input into bench/RESULTS.md as the section NAME, in place
# of the section's earlier contents (a new section goes at the end). The
# measuring scripts call it, so that the figures there are never typed by
# hand.
#   some-measurement | bench/record.sh NAME
set -euo pipefail
cd "$(dirname "$0")"
name=$1
begin="<!-- begin $name -->"
end="<!-- end $name -->"
new=$(mktemp)
{ echo "$begin"; cat; echo "$end"; } >"$new"
[ -f RESULTS.md ] || printf '# Measured results\n\nWritten by the scripts that measure them; see the README for what each is.\n' >RESULTS.md
if grep -qxF "$begin" RESULTS.md; then
    awk -v begin="$begin" -v end="$end" -v file="$new" '
        $0 == begin { while ((getline line < file) > 0) print line; skip = 1; next }
        $0 == end { skip = 0; next }
        !skip' RESULTS.md >RESULTS.md.tmp
else
    { cat RESULTS.md; echo; cat "$new"; } >RESULTS.md.tmp
fi
mv RESULTS.md.tmp RESULTS.md
rm -f "$new"
