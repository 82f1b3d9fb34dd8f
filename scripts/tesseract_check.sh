#!/usr/bin/env bash
# edgebin's output read by a real client: Tesseract. Generates a 300-dpi page of
# printed words on a stained, uneven background (a TIFF that declares 300 dpi),
# binarizes it with `edgebin --bilevel` into a G4 TIFF and runs Tesseract on that.
# Fails when Tesseract says anything about the resolution or reads back less than
# MIN_SHARE of the words. As a control, the same page written without a
# resolution must draw Tesseract's resolution message, so the check can fail.
#
# usage: scripts/tesseract_check.sh [BUILD_DIR]   (default: build; needs tesseract-ocr,
#                                            tesseract-ocr-eng and python3-opencv)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
minShare=0.8
# One thread: the machine is shared, and the page is small.
export OMP_THREAD_LIMIT=1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Debian's interpreter, which has python3-opencv, whatever python3 PATH finds first.
/usr/bin/python3 - "$work" <<'EOF'
import sys
import cv2
import numpy as np

words = ("the quick brown fox jumps over the lazy dog while seven tired clerks "
         "count green apples under a bright morning sky and old river boats carry "
         "heavy wooden crates past quiet harbour towns where children read simple "
         "books about brave sailors distant islands and hidden golden treasure").split()
width, height = 2000, 900
rng = np.random.default_rng(7)
ys, xs = np.mgrid[0:height, 0:width]
paper = 205 + 25 * np.sin(xs / 350.0) * np.cos(ys / 260.0) + rng.normal(0, 6, (height, width))
stain = 40 * np.exp(-(((xs - 1400) / 260.0) ** 2 + ((ys - 500) / 180.0) ** 2))
page = np.clip(paper - stain, 0, 255).astype(np.uint8)
ink = np.full_like(page, 255)
lines, line, x = [], [], 0
for word in words:
    size = cv2.getTextSize(word + " ", cv2.FONT_HERSHEY_DUPLEX, 1.6, 3)[0][0]
    if x + size > width - 160:
        lines.append(line)
        line, x = [], 0
    line.append(word)
    x += size
lines.append(line)
for row, line in enumerate(lines):
    cv2.putText(ink, " ".join(line), (80, 110 + 95 * row), cv2.FONT_HERSHEY_DUPLEX, 1.6, 0, 3,
                cv2.LINE_AA)
page = np.where(ink < 255, np.minimum(page, 55 + ink // 2), page).astype(np.uint8)
dpi = [cv2.IMWRITE_TIFF_RESUNIT, 2, cv2.IMWRITE_TIFF_XDPI, 300, cv2.IMWRITE_TIFF_YDPI, 300]
cv2.imwrite(sys.argv[1] + "/page.tif", page, dpi)
cv2.imwrite(sys.argv[1] + "/nodpi.png", page)
open(sys.argv[1] + "/words.txt", "w").write("\n".join(words) + "\n")
EOF

"$build/edgebin" --bilevel --quiet "$work/page.tif" "$work/page_g4.tif"
"$build/edgebin" --bilevel --quiet "$work/nodpi.png" "$work/nodpi_g4.tif"
tesseract "$work/page_g4.tif" "$work/read" >"$work/log.txt" 2>&1
tesseract "$work/nodpi_g4.tif" "$work/control" >"$work/control.log" 2>&1

echo "Tesseract on edgebin's 300-dpi G4 TIFF said (nothing expected):"
sed 's/^/  /' "$work/log.txt"
echo "Tesseract on the control, the same page without a resolution, said:"
sed 's/^/  /' "$work/control.log"
status=0
if grep -qi "resolution" "$work/log.txt"; then
    echo "FAIL: Tesseract complained about the resolution"
    status=1
fi
if ! grep -qi "resolution" "$work/control.log"; then
    echo "FAIL: the control without a resolution drew no resolution message:"
    cat "$work/control.log"
    status=1
fi
# Share of the printed words found in what Tesseract read, each at most as often
# as it was printed.
share=$(/usr/bin/python3 - "$work/words.txt" "$work/read.txt" <<'EOF'
import collections, re, sys
printed = collections.Counter(open(sys.argv[1]).read().split())
read = collections.Counter(re.findall(r"[a-z]+", open(sys.argv[2]).read().lower()))
found = sum(min(count, read[word]) for word, count in printed.items())
print(f"{found / sum(printed.values()):.3f} {found} {sum(printed.values())}")
EOF
)
read -r fraction found total <<<"$share"
echo "words read back: $found of $total ($fraction; at least $minShare needed)"
if ! /usr/bin/python3 -c "import sys; sys.exit(0 if $fraction >= $minShare else 1)"; then
    echo "FAIL: too few words read back; Tesseract read:"
    cat "$work/read.txt"
    status=1
fi
[ "$status" -eq 0 ] && echo "OCR check passed"
exit "$status"
