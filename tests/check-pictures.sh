#!/usr/bin/env bash
# The README's pictures show the whole window: each PNG it links is exactly
# as wide and as tall as the window it was taken of (1100 x 760 at 96 DPI,
# scaled for the DPI in its name, at most the 1280 x 900 screen it was taken
# on), so a converter that squeezes or cuts the picture is caught. The
# automation pictures hold the automation window too, 560 px wider at 96 DPI.
set -euo pipefail
root=$1
status=0
pictures=$(grep -o 'doc/screenshots/[A-Za-z0-9_-]*\.png' "$root/README.md" | sort -u)
[ -n "$pictures" ] || { echo "the README links no pictures"; exit 1; }
for picture in $pictures; do
    file="$root/$picture"
    [ -f "$file" ] || { echo "$picture: missing"; status=1; continue; }
    # Width and height are the big-endian words at bytes 16 and 20 (IHDR).
    read -r width height < <(od -An -tu1 -j16 -N8 "$file" |
        awk '{ print $1 * 16777216 + $2 * 65536 + $3 * 256 + $4, $5 * 16777216 + $6 * 65536 + $7 * 256 + $8 }')
    dpi=96
    [[ $picture =~ -([0-9]+)dpi\.png$ ]] && dpi=${BASH_REMATCH[1]}
    want_width=$((1100 * dpi / 96)) want_height=$((760 * dpi / 96))
    [[ $(basename "$picture") == automation* ]] && want_width=$(((1100 + 560) * dpi / 96))
    # Above 96 DPI they are taken on a 1280 x 900 screen, which the window fills.
    if [ "$dpi" -gt 96 ]; then
        want_width=$((want_width < 1280 ? want_width : 1280))
        want_height=$((want_height < 900 ? want_height : 900))
    fi
    if [ "$width" != "$want_width" ] || [ "$height" != "$want_height" ]; then
        echo "$picture: $width x $height, the window is $want_width x $want_height"
        status=1
    fi
done
[ $status -eq 0 ] && echo "pictures: $(echo "$pictures" | wc -l) of the whole window"
exit $status
