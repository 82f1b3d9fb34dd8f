"""OCRmyPDF with and without the plugin edgebin.ocrmypdf, class by class.

usage: ocrmypdf_bench.py [--build DIR] [--out DIR] [--pages N] [--jobs J]
                         [--classes noise,faint,...] [--output-type pdfa|pdf]

For every class of edgebin-genpage --class it generates N pages of real words
(seeds 1..N, difficulty spread over 0.2..0.8, as tools/evaluation/ocr_check.py does),
assembles them into one PDF at 300 dpi with img2pdf, and runs ocrmypdf -j J on
it three times: as it is ("plain": Tesseract thresholds the grey page itself),
with --plugin edgebin.ocrmypdf ("plugin") and with --edgebin-visible too
("visible"). For each run it records the exit status, the wall time, the
processor time of OCRmyPDF and everything it ran, and the size of the PDF, and scores the text layer page by page (pdftotext) against
the words drawn, with the CER of tools/evaluation/ocr_check.py.

The Python module must be importable by the interpreter that runs ocrmypdf:
run it with PYTHONPATH=build/python, or from a virtual environment where edgebin
is installed. Needs ocrmypdf, img2pdf and pdftotext (scripts/install_deps.sh pdf).
Writes OUT/runs.csv (one row per class and run) and OUT/summary.md, and prints
the summary.
"""
import argparse
import csv
import os
import resource
import subprocess
import sys
import time

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(REPO, "tools", "evaluation"))
from ocr_check import CLASSES, character_error_rate  # noqa: E402

RUNS = {
    "plain": [],
    "plugin": ["--plugin", "edgebin.ocrmypdf"],
    "visible": ["--plugin", "edgebin.ocrmypdf", "--edgebin-visible"],
}


def run(command):
    return subprocess.run(command, check=False, capture_output=True, text=True)


def make_document(args, page_class):
    """The class's PDF and the words drawn on each of its pages."""
    folder = os.path.join(args.out, page_class)
    os.makedirs(folder, exist_ok=True)
    images, words = [], []
    for seed in range(1, args.pages + 1):
        difficulty = 0.2 + 0.6 * (seed - 1) / max(1, args.pages - 1)
        page = os.path.join(folder, "p%02d.png" % seed)
        generated = run([os.path.join(args.build, "edgebin-genpage"), "--class", page_class,
                         "--seed", str(seed), "--difficulty", "%.3f" % difficulty,
                         "--out", page])
        if generated.returncode != 0:
            sys.exit("ocrmypdf_bench.py: edgebin-genpage failed: " + generated.stderr)
        with open(page[:-4] + ".txt", encoding="utf-8") as handle:
            words.append(handle.read())
        images.append(page)
    document = os.path.join(folder, "scan.pdf")
    assembled = run(["img2pdf", "--imgsize", "300dpi", "-o", document] + images)
    if assembled.returncode != 0:
        sys.exit("ocrmypdf_bench.py: img2pdf failed: " + assembled.stderr)
    return document, words


def page_text(pdf, number):
    # -layout: lines in their order on the page, whatever blocks Tesseract found.
    extracted = run(["pdftotext", "-f", str(number), "-l", str(number), "-layout", pdf, "-"])
    return extracted.stdout if extracted.returncode == 0 else ""


def processor_seconds():
    """User and system time of the finished child processes and all that they waited
    for (OCRmyPDF's workers, Tesseract, Ghostscript): on a shared machine it tells the
    work apart from the waiting."""
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def measure(args, page_class, document, words, name):
    output = os.path.join(os.path.dirname(document), name + ".pdf")
    command = [sys.executable, "-m", "ocrmypdf", "-j", str(args.jobs),
               "--output-type", args.output_type] + RUNS[name] + [document, output]
    start, used = time.monotonic(), processor_seconds()
    done = run(command)
    seconds, cpu = time.monotonic() - start, processor_seconds() - used
    row = {"class": page_class, "run": name, "status": done.returncode,
           "seconds": round(seconds, 2), "cpu_seconds": round(cpu, 2), "bytes": 0,
           "warnings": done.stderr.count("WARNING")}
    if done.returncode != 0:
        print(done.stderr, file=sys.stderr)
        row["cer"] = float("nan")
        return row
    row["bytes"] = os.path.getsize(output)
    rates = [character_error_rate(page_text(output, number), drawn)
             for number, drawn in enumerate(words, 1)]
    row["cer"] = sum(rates) / len(rates)
    row["worst_cer"] = max(rates)
    return row


def summarize(rows, args):
    by = {(r["class"], r["run"]): r for r in rows}
    lines = ["%d pages per class, ocrmypdf -j %d --output-type %s" % (
                 args.pages, args.jobs, args.output_type), "",
             "| class | CER plain % | CER plugin % | CER visible % | worst CER plain % "
             "| worst CER plugin % | kB plain | kB plugin | kB visible | s plain | s plugin "
             "| s visible | CPU s plain | CPU s plugin | CPU s visible |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|"]
    classes = [c for c in CLASSES if (c, "plain") in by]
    for page_class in classes:
        cells = [page_class]
        cells += ["%.2f" % by[(page_class, n)]["cer"] for n in RUNS]
        cells += ["%.2f" % by[(page_class, n)].get("worst_cer", float("nan"))
                  for n in ("plain", "plugin")]
        cells += ["%.0f" % (by[(page_class, n)]["bytes"] / 1024) for n in RUNS]
        cells += ["%.1f" % by[(page_class, n)]["seconds"] for n in RUNS]
        cells += ["%.1f" % by[(page_class, n)]["cpu_seconds"] for n in RUNS]
        lines.append("| " + " | ".join(cells) + " |")
    totals = ["**all**"]
    for name in RUNS:
        part = [by[(c, name)] for c in classes]
        totals.append("%.2f" % (sum(r["cer"] for r in part) / len(part)))
    totals += ["", ""]
    totals += ["%.0f" % (sum(by[(c, n)]["bytes"] for c in classes) / 1024) for n in RUNS]
    totals += ["%.1f" % sum(by[(c, n)][key] for c in classes)
               for key in ("seconds", "cpu_seconds") for n in RUNS]
    lines.append("| " + " | ".join(totals) + " |")
    failed = [r for r in rows if r["status"] != 0]
    lines.append("")
    lines.append("runs that did not complete: %d of %d" % (len(failed), len(rows)))
    return "\n".join(lines) + "\n"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=os.path.join(REPO, "build"))
    parser.add_argument("--out", default=os.path.join(REPO, "out", "ocrmypdf"))
    parser.add_argument("--pages", type=int, default=3)
    parser.add_argument("--jobs", type=int, default=2)
    parser.add_argument("--classes", default=",".join(CLASSES))
    parser.add_argument("--output-type", default="pdfa", choices=["pdfa", "pdf"])
    args = parser.parse_args()
    for tool in ("img2pdf", "pdftotext"):
        if run(["which", tool]).returncode != 0:
            sys.exit("ocrmypdf_bench.py: %s not found (scripts/install_deps.sh pdf)" % tool)
    if run([sys.executable, "-c", "import ocrmypdf, edgebin.ocrmypdf"]).returncode != 0:
        sys.exit("ocrmypdf_bench.py: cannot import ocrmypdf and edgebin.ocrmypdf "
                 "(PYTHONPATH=build/python?)")
    rows = []
    for page_class in args.classes.split(","):
        if page_class not in CLASSES:
            sys.exit("ocrmypdf_bench.py: unknown class " + page_class)
        document, words = make_document(args, page_class)
        for name in RUNS:
            row = measure(args, page_class, document, words, name)
            rows.append(row)
            print("%s %s: status %d, %.1f s (CPU %.1f s), %d bytes, CER %.2f %%" % (
                page_class, name, row["status"], row["seconds"], row["cpu_seconds"],
                row["bytes"], row["cer"]), flush=True)
    with open(os.path.join(args.out, "runs.csv"), "w", newline="", encoding="utf-8") as handle:
        writer = csv.DictWriter(handle, fieldnames=sorted({k for r in rows for k in r}))
        writer.writeheader()
        writer.writerows(rows)
    summary = summarize(rows, args)
    with open(os.path.join(args.out, "summary.md"), "w", encoding="utf-8") as handle:
        handle.write(summary)
    print(summary)


if __name__ == "__main__":
    main()
