"""python3 -m edgebin.dask on a LocalCluster against `edgebin --out-dir` of the same
build (PYTHONPATH=build/python; EDGEBIN_BUILD_DIR names another build folder)."""

import json
import os
import signal
import subprocess
import sys
import time
from pathlib import Path

import cv2
import pytest

import edgebin

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("EDGEBIN_BUILD_DIR", ROOT / "build"))
ENV = dict(os.environ, PYTHONPATH=os.pathsep.join(
    [str(Path(edgebin.__file__).parents[1]), os.environ.get("PYTHONPATH", "")]))


def dpi(value):
    return [cv2.IMWRITE_TIFF_RESUNIT, 2, cv2.IMWRITE_TIFF_XDPI, value,
            cv2.IMWRITE_TIFF_YDPI, value]


@pytest.fixture(scope="module")
def batch(tmp_path_factory):
    """A folder tree to binarize, run from its parent folder, and the command line's
    results: ({relative path: bytes}, report records)."""
    folder = tmp_path_factory.mktemp("batch")
    page = cv2.imread(str(ROOT / "samples" / "sample_page.png"), cv2.IMREAD_GRAYSCALE)
    for sub in ["in/a", "in/b/deep", "in/c"]:
        (folder / sub).mkdir(parents=True)
    cv2.imwrite(str(folder / "in/a/page.tif"), page, dpi(300))
    cv2.imwrite(str(folder / "in/b/deep/page.png"), page[100:])  # the same name, elsewhere
    cv2.imwritemulti(str(folder / "in/b/two.tif"), [page, page[:500, :700]], dpi(200))
    (folder / "in/b/broken.png").write_bytes((ROOT / "samples/sample_page.png").read_bytes()[:900])
    for i in range(24):  # enough files that a stop comes halfway, however fast they go
        cv2.imwrite(str(folder / f"in/c/copy{i}.png"), page[:, 30 * i:])
    done = subprocess.run([str(BUILD / "edgebin"), "--out-dir", "cli", "--report", "cli.jsonl",
                           "--quiet", "in"], cwd=folder, capture_output=True, text=True)
    assert done.returncode == 4, done.stderr  # the broken page
    return folder, results(folder / "cli"), records(folder / "cli.jsonl")


def results(out_dir):
    return {str(p.relative_to(out_dir)): p.read_bytes() for p in out_dir.rglob("*") if p.is_file()}


def records(report):
    """The report's records, timing aside, with the output folder named "OUT"."""
    found = []
    for line in report.read_text().splitlines():
        record = json.loads(line)
        del record["seconds"]
        if record["output"]:
            record["output"] = "OUT/" + record["output"].split("/", 1)[1]
        found.append(record)
    return sorted(found, key=lambda r: (r["input"], r["page"]))


@pytest.fixture(scope="module")
def scheduler():
    from dask.distributed import LocalCluster

    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster:
        yield cluster.scheduler_address


def dask_batch(folder, out, *options):
    return subprocess.Popen(
        [sys.executable, "-m", "edgebin.dask", "in", "--out-dir", out, "--report", f"{out}.jsonl",
         "--quiet", *options],
        cwd=folder, env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def test_dask_matches_command_line(batch):
    folder, files, report = batch
    assert {"in/a/page.png", "in/b/deep/page.png", "in/b/two-002.png"} < files.keys()
    done = dask_batch(folder, "whole", "--workers", "2")  # a cluster of its own
    _, stderr = done.communicate(timeout=300)
    assert done.returncode == 4 and "in/b/broken.png" in stderr, stderr
    assert results(folder / "whole") == files
    assert records(folder / "whole.jsonl") == report


# Tornado, under the LocalCluster this process runs.
@pytest.mark.filterwarnings("ignore:make_current is deprecated:DeprecationWarning")
def test_stopped_run_resumes(batch, scheduler):
    folder, files, report = batch
    stopped = dask_batch(folder, "resumed", "--scheduler", scheduler, "--block-size", "1")
    report_file = folder / "resumed.jsonl"
    while not report_file.exists() or '"status":"ok"' not in report_file.read_text():
        assert stopped.poll() is None, stopped.communicate()
        time.sleep(0.05)
    stopped.send_signal(signal.SIGINT)
    _, stderr = stopped.communicate(timeout=120)
    assert stopped.returncode == 130 and "--skip-existing" in stderr, stderr
    kept = results(folder / "resumed")
    assert 0 < len(kept) < len(files) and kept.items() <= files.items()
    resumed = dask_batch(folder, "resumed", "--scheduler", scheduler, "--skip-existing")
    _, stderr = resumed.communicate(timeout=300)
    assert resumed.returncode == 4, stderr
    assert results(folder / "resumed") == files
    # Each page written is reported once; the broken page fails in both runs.
    ok = [r for r in records(folder / "resumed.jsonl") if r["status"] == "ok"]
    assert ok == [r for r in report if r["status"] == "ok"]
