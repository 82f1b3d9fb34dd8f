"""Confusion table of --polarity auto over positive pages and their negatives.

usage: PYTHONPATH=build/python /usr/bin/python3 tools/evaluation/polarity_check.py
           [--build DIR] [--data DIR] [--seeds N] [--sizes WxH,...] [--out DIR]

Pages: every benchmark page DATA/<set>/<id>.png (not the _gt files), and in each
size (default 1200x900, the generator's, and 600x400) N pages of every
edgebin-genpage --class (seeds 1..N, difficulty spread over 0.2..0.8) and N plain
generated pages. Each grey page (colour converted as the library does) and
its negative, 255 - grey, is binarized with polarity="auto"; the positive also
with "dark-ink". A positive must be kept (polarity dark-ink) and give exactly the
dark-ink result; a negative must be inverted (light-ink) and give exactly the
positive's result and trace. "unsure" counts pages kept with the self-check's
reason "the page may be a negative".

Prints a table per group (benchmark, generated classes, hard classes) and the
weakest evidence of each; writes OUT/pages.csv.
"""
import argparse
import csv
import glob
import itertools
import os
import subprocess
import sys

import cv2
import numpy

import edgebin

REASON = "the page may be a negative"
# The classes made to tempt a polarity guess: large dark areas on positive pages.
HARD = ["photo", "book-edge", "stains", "table-header"]
CLASSES = ["noise", "faint", "verso", "border", "texture", "thin", "dark-beside-faint"] + HARD


def run_auto(grey):
    try:
        image, trace = edgebin.binarize_with_trace(grey, polarity="auto")
    except edgebin.NoStrokesError as error:
        image, trace = None, error.trace
    if trace.get("verdict") is None:  # a failed run has no self-check
        trace["suspect_reasons"] = []
    return image, trace


def dark_ink(grey):
    try:
        return edgebin.binarize(grey, polarity="dark-ink")
    except edgebin.NoStrokesError:
        return None


def same(a, b):
    return (a is None and b is None) or (
        a is not None and b is not None and numpy.array_equal(a, b))


def without_polarity(trace):
    return {key: value for key, value in trace.items()
            if key not in ("polarity", "polarity_evidence")}


def verdict(trace):
    if trace["polarity"] == "light-ink":
        return "inverted"
    return "unsure" if REASON in trace["suspect_reasons"] else "kept"


def check(group, name, grey):
    positive, positive_trace = run_auto(grey)
    negative, negative_trace = run_auto(255 - grey)
    return {
        "group": group, "page": name,
        "evidence": positive_trace["polarity_evidence"],
        "positive": verdict(positive_trace),
        "negative": verdict(negative_trace),
        "positive_as_dark_ink": same(positive, dark_ink(grey)),
        "negative_identical": same(negative, positive)
        and without_polarity(negative_trace) == without_polarity(positive_trace),
    }


def pages(args):
    for path in sorted(glob.glob(os.path.join(args.data, "*", "*.png"))):
        if not path.endswith("_gt.png"):
            name = os.path.relpath(path, args.data)
            yield "benchmark", name, cv2.imread(path, cv2.IMREAD_COLOR)
    os.makedirs(args.out, exist_ok=True)
    genpage = os.path.join(args.build, "edgebin-genpage")
    for size, page_class, seed in itertools.product(
            args.sizes.split(","), CLASSES + ["plain"], range(1, args.seeds + 1)):
        difficulty = 0.2 + 0.6 * (seed - 1) / max(1, args.seeds - 1)
        width, height = size.split("x")
        path = os.path.join(args.out, "%s-%d-%s.png" % (page_class, seed, size))
        command = [genpage, "--seed", str(seed), "--difficulty", "%.3f" % difficulty,
                   "--width", width, "--height", height, "--out", path]
        if page_class != "plain":
            command += ["--class", page_class]
        subprocess.run(command, check=True)
        group = "hard classes" if page_class in HARD else "generated"
        yield group, os.path.basename(path), cv2.imread(path, cv2.IMREAD_COLOR)


def table(rows):
    lines = ["| group | pages | truth | kept (dark-ink) | unsure (kept, suspect) | inverted"
             " | bit-identical | weakest evidence |",
             "|---|---|---|---|---|---|---|---|"]
    for group in ("benchmark", "generated", "hard classes"):
        part = [r for r in rows if r["group"] == group]
        if not part:
            continue
        weakest = min(part, key=lambda r: abs(r["evidence"]))
        for truth, sign, identical in (("positive", 1, "positive_as_dark_ink"),
                                       ("negative", -1, "negative_identical")):
            counts = [sum(r[truth] == v for r in part) for v in ("kept", "unsure", "inverted")]
            lines.append("| %s | %d | %s | %d | %d | %d | %d | %+.3f (%s) |" % (
                group, len(part), truth, *counts, sum(r[identical] for r in part),
                sign * weakest["evidence"], weakest["page"]))
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    repo = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument("--build", default=os.path.join(repo, "build"))
    parser.add_argument("--data", default=os.path.join(repo, "..", "shared", "data"))
    parser.add_argument("--seeds", type=int, default=5)
    parser.add_argument("--sizes", default="1200x900,600x400")
    parser.add_argument("--out", default=os.path.join(repo, "out", "polarity"))
    args = parser.parse_args()
    rows = []
    for group, name, page in pages(args):
        grey = page if page.ndim == 2 else cv2.cvtColor(page, cv2.COLOR_BGR2GRAY)
        rows.append(check(group, name, grey))
        row = rows[-1]
        print("%s %s: evidence %+.3f, positive %s, negative %s%s" % (
            group, name, row["evidence"], row["positive"], row["negative"],
            "" if row["negative_identical"] and row["positive_as_dark_ink"]
            else "  NOT IDENTICAL"), flush=True)
    with open(os.path.join(args.out, "pages.csv"), "w", newline="", encoding="utf-8") as handle:
        writer = csv.DictWriter(handle, fieldnames=list(rows[0].keys()))
        writer.writeheader()
        writer.writerows(rows)
    print(table(rows))
    failed = sum(r["positive"] != "kept" or r["negative"] != "inverted" or
                 not r["negative_identical"] or not r["positive_as_dark_ink"] for r in rows)
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
