#!/bin/bash
# Downloads Debian's source package PACKAGE (its .dsc and tarballs) into
# DIR, through a source list of its own for the same archive, so that the
# system's package lists stay as they are.
#   scripts/debian-source.sh PACKAGE DIR
set -euo pipefail
package=$1 dir=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/lists/partial" "$dir"
cat >"$work/src.sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
apt_src=(-o Dir::Etc::SourceList="$work/src.sources" -o Dir::Etc::SourceParts=/nonexistent
         -o Dir::State::Lists="$work/lists")
apt-get "${apt_src[@]}" update -qq
(cd "$dir" && apt-get "${apt_src[@]}" source --download-only -qq "$package")
