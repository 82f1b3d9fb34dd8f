"""Draws, for each set, edgebin's weakest and strongest pages beside the input, the
ground truth and the best baseline of that set, with their figures.

usage: contact_sheet.py EVAL_DIR [PAGES_EACH_WAY]

Reads EVAL_DIR/results.csv and EVAL_DIR/pages.tsv as written by evaluate.sh and
writes EVAL_DIR/sheet_<set>.png, and EVAL_DIR/sheet_weakest.png with edgebin's ten
weakest pages over all sets (input, ground truth, edgebin, the best baseline of the
page's set) and a text list of them, EVAL_DIR/weakest.txt.
"""
import csv
import os
import sys

import cv2
import numpy as np

TILE_WIDTH = 400
TILE_HEIGHT = 300
LABEL_HEIGHT = 38
TITLE_HEIGHT = 40
FONT = cv2.FONT_HERSHEY_SIMPLEX
BASELINES = ["otsu", "niblack", "sauvola", "wolf", "nick"]


def read_results(eval_dir):
    with open(os.path.join(eval_dir, "results.csv"), newline="", encoding="utf-8") as handle:
        return list(csv.DictReader(handle))


def read_pages(eval_dir):
    pages = {}
    with open(os.path.join(eval_dir, "pages.tsv"), encoding="utf-8") as handle:
        for line in handle:
            set_name, page, image, truth = line.rstrip("\n").split("\t")
            pages[(set_name, page)] = (image, truth)
    return pages


def fit(image, width, height):
    """Image scaled to fit the box, centred on white."""
    tile = np.full((height, width, 3), 255, np.uint8)
    if image is None:
        return tile
    if image.ndim == 2:
        image = cv2.cvtColor(image, cv2.COLOR_GRAY2BGR)
    scale = min(width / image.shape[1], height / image.shape[0])
    size = (max(1, int(image.shape[1] * scale)), max(1, int(image.shape[0] * scale)))
    small = cv2.resize(image, size, interpolation=cv2.INTER_AREA)
    y = (height - size[1]) // 2
    x = (width - size[0]) // 2
    tile[y : y + size[1], x : x + size[0]] = small
    return tile


def labelled(image, first, second, colour=(0, 0, 0)):
    tile = fit(image, TILE_WIDTH, TILE_HEIGHT)
    band = np.full((LABEL_HEIGHT, TILE_WIDTH, 3), 235, np.uint8)
    cv2.putText(band, first, (6, 15), FONT, 0.45, colour, 1, cv2.LINE_AA)
    cv2.putText(band, second, (6, 32), FONT, 0.45, colour, 1, cv2.LINE_AA)
    cell = np.vstack([band, tile])
    cv2.rectangle(cell, (0, 0), (cell.shape[1] - 1, cell.shape[0] - 1), (160, 160, 160), 1)
    return cell


def figures(row):
    psnr = row["PSNR"] if row["PSNR"] == "inf" else f"{float(row['PSNR']):.2f}"
    return f"F {float(row['F']):.2f}  pF {float(row['pF']):.2f}  PSNR {psnr}  DRD {float(row['DRD']):.2f}"


def method_tile(eval_dir, set_name, row):
    method = row["method"]
    if row["status"] != "ok":
        return labelled(None, method, row["status"], (0, 0, 200))
    path = os.path.join(eval_dir, "results", set_name, method, row["page"] + ".png")
    return labelled(cv2.imread(path, cv2.IMREAD_COLOR), method, figures(row))


def best_baseline(rows):
    means = {}
    for method in BASELINES:
        scores = [float(r["F"]) for r in rows if r["method"] == method]
        if scores:
            means[method] = sum(scores) / len(scores)
    return max(means, key=means.get) if means else None


def chosen_pages(edgebin_rows, each_way):
    ranked = sorted(edgebin_rows, key=lambda r: float(r["F"]))
    weakest = ranked[:each_way]
    strongest = [r for r in reversed(ranked) if r not in weakest][:each_way]
    return [("weakest", i + 1, r) for i, r in enumerate(weakest)] + [
        ("strongest", i + 1, r) for i, r in enumerate(strongest)
    ]


def draw_sheet(eval_dir, set_name, rows, pages, each_way):
    edgebin_rows = [r for r in rows if r["method"] == "edgebin"]
    baseline = best_baseline(rows)
    if not edgebin_rows or baseline is None:
        return None
    lines = []
    for kind, rank, row in chosen_pages(edgebin_rows, each_way):
        page = row["page"]
        image_path, truth_path = pages[(set_name, page)]
        rival = next(r for r in rows if r["method"] == baseline and r["page"] == page)
        lines.append(
            np.hstack(
                [
                    labelled(cv2.imread(image_path, cv2.IMREAD_COLOR), f"{page}  input", f"edgebin {kind} #{rank}"),
                    labelled(cv2.imread(truth_path, cv2.IMREAD_COLOR), f"{page}  ground truth", ""),
                    method_tile(eval_dir, set_name, row),
                    method_tile(eval_dir, set_name, rival),
                ]
            )
        )
    sheet = np.vstack(lines)
    title = np.full((TITLE_HEIGHT, sheet.shape[1], 3), 255, np.uint8)
    text = (
        f"{set_name}: edgebin's weakest and strongest pages by F; "
        f"baseline {baseline} (best mean F of this set)"
    )
    cv2.putText(title, text, (8, 26), FONT, 0.6, (0, 0, 0), 1, cv2.LINE_AA)
    return np.vstack([title, sheet])


def draw_weakest(eval_dir, results, pages, count=10):
    """Edgebin's weakest pages over all sets, one line each."""
    edgebin_rows = sorted((r for r in results if r["method"] == "edgebin"), key=lambda r: float(r["F"]))
    lines = []
    listing = []
    for rank, row in enumerate(edgebin_rows[:count], 1):
        set_name, page = row["set"], row["page"]
        image_path, truth_path = pages[(set_name, page)]
        set_rows = [r for r in results if r["set"] == set_name]
        baseline = best_baseline(set_rows)
        rival = next(r for r in set_rows if r["method"] == baseline and r["page"] == page)
        listing.append(f"{rank:2d} {set_name}/{page} F {float(row['F']):.2f} P {float(row['precision']):.2f} "
                       f"R {float(row['recall']):.2f} DRD {float(row['DRD']):.2f} ({baseline} F {float(rival['F']):.2f})")
        lines.append(
            np.hstack(
                [
                    labelled(cv2.imread(image_path, cv2.IMREAD_COLOR), f"{set_name}/{page}  input", f"weakest #{rank}"),
                    labelled(cv2.imread(truth_path, cv2.IMREAD_COLOR), "ground truth", ""),
                    method_tile(eval_dir, set_name, row),
                    method_tile(eval_dir, set_name, rival),
                ]
            )
        )
    if not lines:
        return
    sheet = np.vstack(lines)
    title = np.full((TITLE_HEIGHT, sheet.shape[1], 3), 255, np.uint8)
    cv2.putText(title, "edgebin's weakest pages over all sets by F; baseline: best mean F of the page's set",
                (8, 26), FONT, 0.6, (0, 0, 0), 1, cv2.LINE_AA)
    cv2.imwrite(os.path.join(eval_dir, "sheet_weakest.png"), np.vstack([title, sheet]),
                [cv2.IMWRITE_PNG_COMPRESSION, 9])
    with open(os.path.join(eval_dir, "weakest.txt"), "w", encoding="utf-8") as handle:
        handle.write("\n".join(listing) + "\n")


def main():
    if len(sys.argv) not in (2, 3):
        sys.exit(__doc__)
    eval_dir = sys.argv[1]
    each_way = int(sys.argv[2]) if len(sys.argv) == 3 else 3
    results = read_results(eval_dir)
    pages = read_pages(eval_dir)
    for set_name in sorted({r["set"] for r in results}):
        rows = [r for r in results if r["set"] == set_name]
        sheet = draw_sheet(eval_dir, set_name, rows, pages, each_way)
        if sheet is None:
            continue
        name = "sheet_" + set_name.replace("/", "_") + ".png"
        cv2.imwrite(os.path.join(eval_dir, name), sheet, [cv2.IMWRITE_PNG_COMPRESSION, 9])
    draw_weakest(eval_dir, [r for r in results if r["set"] != "generated"], pages)


if __name__ == "__main__":
    main()
