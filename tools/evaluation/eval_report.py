"""Gathers the rows written by evaluate.sh into results.csv and summary.md.

usage: eval_report.py EVAL_DIR
"""
import csv
import glob
import json
import math
import os
import sys

METHODS = ["edgebin", "otsu", "niblack", "sauvola", "wolf", "nick"]
GENERATED = "generated"
FIGURES = [  # (CSV column, JSON key)
    ("precision", "precision"),
    ("recall", "recall"),
    ("F", "f_measure"),
    ("pF", "pseudo_f_measure"),
    ("PSNR", "psnr"),
    ("DRD", "drd"),
]


def read_rows(eval_dir):
    rows = []
    for path in sorted(glob.glob(os.path.join(eval_dir, "rows", "*.tsv"))):
        with open(path, encoding="utf-8") as handle:
            for line in handle:
                fields = line.rstrip("\n").split("\t")
                set_name, page, method, status, seconds, megapixels, scores = fields
                figures = json.loads(scores)
                row = {"set": set_name, "page": page, "method": method}
                for column, key in FIGURES:
                    row[column] = float(figures[key])
                row["seconds"] = float(seconds)
                row["megapixels"] = float(megapixels)
                row["status"] = status
                rows.append(row)
    order = {name: i for i, name in enumerate(METHODS)}
    rows.sort(key=lambda r: (r["set"] == GENERATED, r["set"], r["page"], order.get(r["method"], 99)))
    return rows


def format_number(value, digits=2):
    return "inf" if math.isinf(value) else f"{value:.{digits}f}"


def write_csv(rows, path):
    columns = ["set", "page", "method"] + [c for c, _ in FIGURES] + ["seconds", "megapixels", "status"]
    with open(path, "w", newline="", encoding="utf-8") as handle:
        writer = csv.writer(handle)
        writer.writerow(columns)
        for row in rows:
            writer.writerow(
                [row["set"], row["page"], row["method"]]
                + [format_number(row[c], 4) for c, _ in FIGURES]
                + [format_number(row["seconds"], 4), format_number(row["megapixels"], 4), row["status"]]
            )


def mean(values):
    return sum(values) / len(values) if values else float("nan")


def summarise(rows):
    """Means of one group of rows, failures included as scored."""
    summary = {c: mean([r[c] for r in rows]) for c, _ in FIGURES}
    # One identical page would make the PSNR mean infinite and hide the others.
    finite = [r["PSNR"] for r in rows if not math.isinf(r["PSNR"])]
    summary["PSNR"] = mean(finite) if finite else float("inf")
    summary["identical"] = len(rows) - len(finite)
    summary["pages"] = len(rows)
    summary["failed"] = sum(r["status"] != "ok" for r in rows)
    summary["seconds"] = mean([r["seconds"] for r in rows])
    summary["s/MP"] = sum(r["seconds"] for r in rows) / sum(r["megapixels"] for r in rows)
    return summary


def psnr_cell(summary):
    text = format_number(summary["PSNR"])
    if summary["identical"] and not math.isinf(summary["PSNR"]):
        text += f" (+{summary['identical']} inf)"
    return text


def table_lines(groups):
    header = "| set | method | pages | failed | F | pF | PSNR | DRD | precision | recall | s/page | s/MP |"
    lines = [header, "|" + "---|" * (header.count("|") - 1)]
    for set_name, by_method in groups:
        best = max(s["F"] for s in by_method.values())
        for method in sorted(by_method, key=lambda m: METHODS.index(m) if m in METHODS else 99):
            s = by_method[method]
            f_text = format_number(s["F"])
            if s["F"] == best:
                f_text = f"**{f_text}**"
            lines.append(
                f"| {set_name} | {method} | {s['pages']} | {s['failed']} | {f_text} | "
                f"{format_number(s['pF'])} | {psnr_cell(s)} | {format_number(s['DRD'])} | "
                f"{format_number(s['precision'])} | {format_number(s['recall'])} | "
                f"{format_number(s['seconds'], 3)} | {format_number(s['s/MP'], 3)} |"
            )
    return lines


def group_by_method(rows):
    methods = {}
    for row in rows:
        methods.setdefault(row["method"], []).append(row)
    return {m: summarise(r) for m, r in methods.items()}


def write_summary(rows, path):
    sets = sorted({r["set"] for r in rows}, key=lambda s: (s == GENERATED, s))
    groups = [(s, group_by_method([r for r in rows if r["set"] == s])) for s in sets]
    data_rows = [r for r in rows if r["set"] != GENERATED]
    overall_name = "all data sets" if data_rows else "all generated"
    groups.append((f"**{overall_name}**", group_by_method(data_rows or rows)))
    lines = [
        "# Evaluation summary",
        "",
        "Means over the pages of each set (F, pF, precision and recall in %, PSNR in dB;",
        "pF uses skeleton recall). Failed runs count as an all-paper result. Times are",
        "wall times of the whole process per page, reading and writing included. PSNR",
        "means leave out pages scored identical to the truth, counted as \"+N inf\". The",
        f"overall rows cover every page of {overall_name}. Best F of each set in bold.",
        "",
    ]
    lines += table_lines(groups)
    with open(path, "w", encoding="utf-8") as handle:
        handle.write("\n".join(lines) + "\n")


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    eval_dir = sys.argv[1]
    rows = read_rows(eval_dir)
    if not rows:
        sys.exit("eval_report.py: no rows found in " + eval_dir)
    write_csv(rows, os.path.join(eval_dir, "results.csv"))
    write_summary(rows, os.path.join(eval_dir, "summary.md"))


if __name__ == "__main__":
    main()
