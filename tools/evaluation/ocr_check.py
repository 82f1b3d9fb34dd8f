"""Reads generated class pages with tesseract and scores them, class by class.

usage: ocr_check.py [--build DIR] [--out DIR] [--pages N] [--edgebin PATH]
                    [--classes noise,faint,...] [--no-ocr]

For every class of edgebin-genpage --class (noise, faint, verso, border, texture,
thin, dark-beside-faint) it generates N pages of real words (seeds 1..N, difficulty spread over
0.2..0.8), binarizes each with edgebin, Otsu and Sauvola (edgebin-baseline, window
31 as in evaluate.sh), scores them with edgebin-eval, and reads the grey page and
edgebin's result with tesseract (its own thresholding on the grey page). The
character error rate is the edit distance between what tesseract read and the
words drawn, over the number of characters drawn, with runs of white space folded
to one space on both sides.

Writes OUT/pages.csv (one row per page) and OUT/summary.md (means per class, and
the worst page CER of each method) and prints the summary.
"""
import argparse
import csv
import json
import os
import subprocess
import sys

CLASSES = ["noise", "faint", "verso", "border", "texture", "thin", "dark-beside-faint"]
SCORED = ["edgebin", "otsu", "sauvola"]


def edit_distance(a, b):
    """Levenshtein distance between two strings, two rows at a time."""
    if len(a) < len(b):
        a, b = b, a
    previous = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        current = [i]
        for j, cb in enumerate(b, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1,
                               previous[j - 1] + (ca != cb)))
        previous = current
    return previous[-1]


def fold(text):
    return " ".join(text.split())


def character_error_rate(read, truth):
    truth = fold(truth)
    return 100.0 * edit_distance(fold(read), truth) / max(1, len(truth))


def run(command, **kwargs):
    return subprocess.run(command, check=False, capture_output=True, text=True, **kwargs)


def tesseract(image):
    environment = dict(os.environ, OMP_THREAD_LIMIT="1")
    result = run(["tesseract", image, "stdout", "-l", "eng", "--psm", "6"], env=environment)
    return result.stdout if result.returncode == 0 else ""


def score(build, result, truth):
    scored = run([os.path.join(build, "edgebin-eval"), "--json", result, truth])
    if scored.returncode != 0:
        return None
    return json.loads(scored.stdout.replace("inf", "1e9"))


def binarize(build, edgebin, method, page, result):
    if method == "edgebin":
        command = [edgebin, page, result]
    else:
        command = [os.path.join(build, "edgebin-baseline"), method, page, result,
                   "--window", "31"]
    return run(command).returncode == 0 and os.path.exists(result)


def check_page(args, page_class, seed, difficulty):
    folder = os.path.join(args.out, page_class)
    os.makedirs(folder, exist_ok=True)
    stem = os.path.join(folder, "p%02d" % seed)
    page, truth, words = stem + ".png", stem + "_gt.png", stem + ".txt"
    generated = run([os.path.join(args.build, "edgebin-genpage"), "--class", page_class,
                     "--seed", str(seed), "--difficulty", "%.3f" % difficulty, "--out", page])
    if generated.returncode != 0:
        sys.exit("ocr_check.py: edgebin-genpage failed: " + generated.stderr)
    with open(words, encoding="utf-8") as handle:
        drawn = handle.read()
    row = {"class": page_class, "page": os.path.basename(stem), "difficulty": difficulty}
    for method in SCORED:
        result = "%s.%s.png" % (stem, method)
        ok = binarize(args.build, args.edgebin, method, page, result)
        scores = score(args.build, result, truth) if ok else None
        for key, name in (("f_measure", "F"), ("precision", "P"), ("recall", "R")):
            row["%s_%s" % (name, method)] = scores[key] if scores else 0.0
        if method == "edgebin" and not args.no_ocr:
            read = tesseract(result) if ok else ""
            row["CER_edgebin"] = character_error_rate(read, drawn)
    if not args.no_ocr:
        row["CER_grey"] = character_error_rate(tesseract(page), drawn)
    return row


def mean(values):
    return sum(values) / len(values) if values else float("nan")


def summarize(rows, with_ocr):
    lines = ["| class | pages | F edgebin | F Otsu | F Sauvola | P edgebin | R edgebin"
             + (" | CER edgebin % | CER grey % | worst CER edgebin % | worst CER grey % |"
                if with_ocr else " |"),
             "|---|---|---|---|---|---|---" + ("|---|---|---|---|" if with_ocr else "|")]
    for page_class in CLASSES:
        part = [r for r in rows if r["class"] == page_class]
        if not part:
            continue
        cells = [page_class, str(len(part))]
        for key in ("F_edgebin", "F_otsu", "F_sauvola", "P_edgebin", "R_edgebin"):
            cells.append("%.2f" % mean([r[key] for r in part]))
        if with_ocr:
            for key in ("CER_edgebin", "CER_grey"):
                cells.append("%.2f" % mean([r[key] for r in part]))
            for key in ("CER_edgebin", "CER_grey"):
                cells.append("%.2f" % max(r[key] for r in part))
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    repo = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    parser.add_argument("--build", default=os.path.join(repo, "build"))
    parser.add_argument("--out", default=os.path.join(repo, "out", "ocr"))
    parser.add_argument("--pages", type=int, default=5)
    parser.add_argument("--edgebin", default="")
    parser.add_argument("--classes", default=",".join(CLASSES))
    parser.add_argument("--no-ocr", action="store_true", help="scores only, no tesseract")
    args = parser.parse_args()
    args.edgebin = args.edgebin or os.path.join(args.build, "edgebin")
    for tool in ("edgebin-genpage", "edgebin-eval", "edgebin-baseline"):
        if not os.access(os.path.join(args.build, tool), os.X_OK):
            sys.exit("ocr_check.py: %s not found in %s" % (tool, args.build))
    if not args.no_ocr and run(["tesseract", "--version"]).returncode != 0:
        sys.exit("ocr_check.py: tesseract not found (Debian package tesseract-ocr)")
    rows = []
    for page_class in args.classes.split(","):
        if page_class not in CLASSES:
            sys.exit("ocr_check.py: unknown class " + page_class)
        for seed in range(1, args.pages + 1):
            difficulty = 0.2 + 0.6 * (seed - 1) / max(1, args.pages - 1)
            row = check_page(args, page_class, seed, difficulty)
            rows.append(row)
            print("%s/%s F %.2f (Otsu %.2f, Sauvola %.2f)%s" % (
                page_class, row["page"], row["F_edgebin"], row["F_otsu"], row["F_sauvola"],
                "  CER %.2f %% (grey %.2f %%)" % (row["CER_edgebin"], row["CER_grey"])
                if not args.no_ocr else ""), flush=True)
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "pages.csv"), "w", newline="", encoding="utf-8") as handle:
        writer = csv.DictWriter(handle, fieldnames=list(rows[0].keys()))
        writer.writeheader()
        writer.writerows(rows)
    summary = summarize(rows, not args.no_ocr)
    with open(os.path.join(args.out, "summary.md"), "w", encoding="utf-8") as handle:
        handle.write(summary)
    print(summary)


if __name__ == "__main__":
    main()
