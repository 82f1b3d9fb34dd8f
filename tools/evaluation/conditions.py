"""Scores edgebin beside Otsu and Sauvola on rescaled and perturbed pages.

usage: PYTHONPATH=build/python conditions.py [--data DIR] [--out DIR]
           [--conditions x0.5,x1,...] [--pages SUBSTRING] [--generated N]
           [--build DIR] [--jobs N]

Every benchmark page (DIR/<set>/<id>.png with <id>_gt.png) is binarized under each
condition, the same input given to all three methods:
  xF     rescaled F times: area interpolation down, cubic up, the ground truth by
         nearest neighbour (the size given, rounded); Sauvola's window 31 times F
  gG     gamma G (255 (v / 255)^G)
  cC     contrast C about mid-grey (128 + C (v - 128))
  nS     Gaussian noise of deviation S (fixed seed)
  bS     Gaussian blur of deviation S (a soft focus)
  jQ     JPEG at quality Q
With --generated N, N pages of every class of edgebin-genpage (BUILD/edgebin-genpage,
seeds 1..N) are added at x0.5, x1 and x2, edgebin alone.

A run collapses when its F-measure lies more than 10 points below the better of Otsu
and Sauvola on the same input. Beside them, for reductions, the "truth reduced" column scores the
full-size ground truth reduced by area as the page was and read as ink wherever a
quarter of its area is ink: about the best a result can do that decides each pixel
from what that pixel covers, since the nearest-neighbour ground truth keeps only one
corner of each reduced pixel. Writes OUT/pages.csv (one row per run: scores,
verdict, reasons, levels and mend of the trace) and OUT/summary.md (means and
collapses per condition, and the self-check's verdicts against F < 75, 75-85 and
>= 85), and prints the summary. Needs python3-opencv and the edgebin module.
"""
import argparse
import csv
import multiprocessing
import os
import subprocess
import tempfile

import cv2
import numpy as np

edgebin = None  # the module, imported once the arguments are read

DEFAULT_CONDITIONS = "x0.5,x1,x2,g0.8,g1.25,c0.7,n3,j75"
CLASSES = ["noise", "faint", "verso", "border", "texture", "thin", "dark-beside-faint",
           "photo", "book-edge", "stains", "table-header"]
COLLAPSE_MARGIN = 10.0
# A reduced pixel of the ground truth is ink when its area is at least a quarter ink.
TRUTH_INK_LEVEL = 192


def read_grey(path):
    image = cv2.imread(path, cv2.IMREAD_UNCHANGED)
    if image is None:
        raise SystemExit(f"conditions.py: cannot read {path}")
    if image.ndim == 3:
        image = cv2.cvtColor(image[:, :, :3], cv2.COLOR_BGR2GRAY)
    return image


def grey_table(function):
    return np.clip(np.round(function(np.arange(256, dtype=np.float64))), 0, 255).astype(np.uint8)


def apply_condition(grey, truth, condition):
    """The page and its ground truth under `condition`, and the scale factor."""
    kind, value = condition[0], float(condition[1:])
    if kind == "x":
        if value == 1.0:
            return grey, truth, 1.0
        size = (max(1, round(grey.shape[1] * value)), max(1, round(grey.shape[0] * value)))
        interpolation = cv2.INTER_AREA if value < 1.0 else cv2.INTER_CUBIC
        return (cv2.resize(grey, size, interpolation=interpolation),
                cv2.resize(truth, size, interpolation=cv2.INTER_NEAREST), value)
    if kind == "g":
        return grey_table(lambda v: 255.0 * (v / 255.0) ** value)[grey], truth, 1.0
    if kind == "c":
        return grey_table(lambda v: 128.0 + value * (v - 128.0))[grey], truth, 1.0
    if kind == "n":
        noise = np.random.default_rng(12345).normal(0.0, value, grey.shape)
        return np.clip(np.round(grey + noise), 0, 255).astype(np.uint8), truth, 1.0
    if kind == "b":
        return cv2.GaussianBlur(grey, (0, 0), value), truth, 1.0
    if kind == "j":
        _, encoded = cv2.imencode(".jpg", grey, [cv2.IMWRITE_JPEG_QUALITY, int(value)])
        return cv2.imdecode(encoded, cv2.IMREAD_GRAYSCALE), truth, 1.0
    raise SystemExit(f"conditions.py: unknown condition '{condition}'")


def score_edgebin(grey, truth):
    try:
        result, trace = edgebin.binarize_with_trace(grey)
    except edgebin.NoStrokesError as error:
        # A page refused is scored as a blank one: what the archive would get.
        result = np.full(grey.shape, 255, np.uint8)
        trace = {"verdict": "error", "suspect_reasons": [str(error)], "final_threshold": None,
                 "mend": None}
    scores = edgebin.evaluate(result, truth)
    return {"f": scores["f_measure"], "precision": scores["precision"],
            "recall": scores["recall"], "drd": scores["drd"], "verdict": trace["verdict"],
            "reasons": "; ".join(trace["suspect_reasons"]),
            "level": trace["final_threshold"], "mend": trace["mend"] or ""}


def score_baselines(grey, truth, factor, full_truth, condition):
    _, otsu = cv2.threshold(grey, 0, 255, cv2.THRESH_BINARY + cv2.THRESH_OTSU)
    window = max(3, int(round(31 * factor)) | 1)
    sauvola = cv2.ximgproc.niBlackThreshold(grey, 255, cv2.THRESH_BINARY, window, 0.2,
                                            binarizationMethod=cv2.ximgproc.BINARIZATION_SAUVOLA)
    scores = {"otsu": edgebin.evaluate(otsu, truth)["f_measure"],
              "sauvola": edgebin.evaluate(sauvola, truth)["f_measure"]}
    if factor < 1.0:
        reduced, _, _ = apply_condition(full_truth, full_truth, condition)
        covered = np.where(reduced < TRUTH_INK_LEVEL, 0, 255).astype(np.uint8)
        scores["truth_reduced"] = edgebin.evaluate(covered, truth)["f_measure"]
    return scores


def run_page(job):
    page, truth_path, group, name, condition, baselines = job
    full_truth = read_grey(truth_path)
    grey, truth, factor = apply_condition(read_grey(page), full_truth, condition)
    row = {"condition": condition, "set": group, "page": name}
    row.update(score_edgebin(grey, truth))
    if baselines:
        row.update(score_baselines(grey, truth, factor, full_truth, condition))
    return row


def benchmark_jobs(data, conditions, pattern):
    jobs = []
    for condition in conditions:
        for group in sorted(os.listdir(data)):
            folder = os.path.join(data, group)
            if not os.path.isdir(folder):
                continue
            for file in sorted(os.listdir(folder)):
                name = file[:-4]
                if not file.endswith(".png") or name.endswith("_gt"):
                    continue
                if pattern and pattern not in f"{group}/{name}":
                    continue
                jobs.append((os.path.join(folder, file), os.path.join(folder, name + "_gt.png"),
                             group, name, condition, True))
    return jobs


def generated_jobs(build, count, folder):
    jobs = []
    for kind in CLASSES:
        for seed in range(1, count + 1):
            page = os.path.join(folder, f"{kind}_{seed}.png")
            subprocess.run([os.path.join(build, "edgebin-genpage"), "--seed", str(seed),
                            "--class", kind, "--out", page], check=True, capture_output=True)
            for condition in ("x0.5", "x1", "x2"):
                jobs.append((page, page[:-4] + "_gt.png", "generated/" + kind, f"{kind}_{seed}",
                             condition, False))
    return jobs


def collapsed(row):
    return "otsu" in row and row["f"] < max(row["otsu"], row["sauvola"]) - COLLAPSE_MARGIN


def mean_of(runs, key):
    values = [row[key] for row in runs if key in row]
    return f"{np.mean(values):.2f}" if values else "-"


def summary(rows):
    lines = ["| condition | runs | F edgebin | F Otsu | F Sauvola | F truth reduced "
             "| DRD edgebin | collapses |", "|---|---|---|---|---|---|---|---|"]
    for condition in dict.fromkeys(row["condition"] for row in rows if "otsu" in row):
        runs = [row for row in rows if row["condition"] == condition and "otsu" in row]
        names = ", ".join(f"{row['set']}/{row['page']} {row['f']:.1f}"
                          for row in runs if collapsed(row))
        lines.append(f"| {condition} | {len(runs)} | "
                     + " | ".join(mean_of(runs, key)
                                  for key in ("f", "otsu", "sauvola", "truth_reduced", "drd"))
                     + f" | {names or 0} |")
    lines += ["", "| F | runs | suspect | share |", "|---|---|---|---|"]
    for label, low, high in (("< 75", -1.0, 75.0), ("75-85", 75.0, 85.0), (">= 85", 85.0, 101.0)):
        runs = [row for row in rows if low <= row["f"] < high]
        suspect = sum(row["verdict"] != "ok" for row in runs)
        lines.append(f"| {label} | {len(runs)} | {suspect} | "
                     f"{100.0 * suspect / max(1, len(runs)):.1f} % |")
    return "\n".join(lines) + "\n"


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--data", default=os.path.join(here, "..", "..", "..", "shared", "data"))
    parser.add_argument("--out", default="out/conditions")
    parser.add_argument("--conditions", default=DEFAULT_CONDITIONS)
    parser.add_argument("--pages", default="", help="only pages whose set/id contains this")
    parser.add_argument("--generated", type=int, default=0, metavar="N")
    parser.add_argument("--build", default="build")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1)
    args = parser.parse_args()
    global edgebin
    try:
        import edgebin as module
    except ImportError:
        raise SystemExit("conditions.py: the edgebin module is not found; "
                         "set PYTHONPATH=build/python")
    edgebin = module

    jobs = benchmark_jobs(args.data, args.conditions.split(","), args.pages)
    os.makedirs(args.out, exist_ok=True)
    with tempfile.TemporaryDirectory() as folder:
        if args.generated > 0:
            jobs += generated_jobs(args.build, args.generated, folder)
        if not jobs:
            raise SystemExit(f"conditions.py: no pages under {args.data}")
        with multiprocessing.Pool(args.jobs) as pool:
            rows = pool.map(run_page, jobs, chunksize=1)
    with open(os.path.join(args.out, "pages.csv"), "w", newline="") as file:
        writer = csv.DictWriter(file, list(dict.fromkeys(key for row in rows for key in row)))
        writer.writeheader()
        writer.writerows(rows)
    text = summary(rows)
    with open(os.path.join(args.out, "summary.md"), "w") as file:
        file.write(text)
    print(text, end="")


if __name__ == "__main__":
    main()
