#!/bin/sh
# SPDX-License-Identifier: MIT
# The README's screenshots as scripts/take-screenshot takes them, at 100 % and at 125 %:
# each must be the whole window, the design's size times the scale, with its cut-away
# corners see-through. They are kept as screenshot-<scale>.png in the folder given.
#
#     check-screenshots.sh PROGRAM FOLDER
set -eu
program=$1
folder=$2
script=$(cd "$(dirname "$0")/../.." && pwd)/scripts/take-screenshot
TMPDIR=$(mktemp -d)
export TMPDIR
trap 'rm -rf "$TMPDIR"' EXIT INT TERM
for shot in "1 490x202" "1.25 613x253"; do
    set -- $shot
    file="$folder/screenshot-$1.png"
    "$script" "$program" "$file" "$1"
    size=$(identify -format %wx%h "$file")
    [ "$size" = "$2" ] || { echo "the screenshot at $1 is $size, not $2" >&2; exit 1; }
    corner=$(convert "$file" -format "%[fx:p{0,0}.a]" info:)
    [ "$corner" = 0 ] || { echo "the corner at $1 is not see-through ($corner)" >&2; exit 1; }
    inside=$(convert "$file" -format "%[fx:p{200,100}.a]" info:)
    [ "$inside" = 1 ] || { echo "the window at $1 is see-through inside ($inside)" >&2; exit 1; }
done
