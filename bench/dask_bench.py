"""python3 -m edgebin.dask against `edgebin --out-dir --jobs 2`, and a worker killed
mid-run.

    PYTHONPATH=build/python /usr/bin/python3 bench/dask_bench.py [BUILD_DIR] [REPEATS]

On PAGES generated pages (default 200, of 1700 × 1200 ≈ 2 MP, made once with
edgebin-genpage, DISTINCT of them different, and kept in WORK, default
/tmp/edgebin-dask-bench):

speed   the command line with --jobs 2, and edgebin.dask on a LocalCluster of 2
        single-threaded workers that is already up (the run timed from the
        start of edgebin.dask's main, so it includes the plan, the client's
        connection and the report), REPEATS times each, alternately; the
        fastest and the median wall times, and each run's processor time (on a
        machine shared with other work, the fairer comparison). Target: Dask within 15 % of the
        command line. The files of both must be identical.
killed  edgebin.dask with blocks of 8 files on a fresh cluster; after 40 report
        lines one worker process is killed (SIGKILL). Its nanny starts a new one
        and Dask runs the lost block again. Checked: every page exactly once in
        the report, every file identical to the command line's, no other file
        (no temporary file left) in the output folder.
"""

import json
import os
import resource
import shutil
import signal
import statistics
import subprocess
import sys
import threading
import time
from pathlib import Path

from dask.distributed import Client, LocalCluster

import edgebin.dask

ROOT = Path(__file__).resolve().parents[1]
BUILD = ROOT / (sys.argv[1] if len(sys.argv) > 1 else "build")
REPEATS = int(sys.argv[2]) if len(sys.argv) > 2 else 3
PAGES = int(os.environ.get("PAGES", 200))
WORK = Path(os.environ.get("WORK", "/tmp/edgebin-dask-bench"))


def generate(folder):
    """PAGES pages: DISTINCT generated ones (default 20; each takes seconds to
    draw), copied in turn."""
    folder.mkdir(parents=True, exist_ok=True)
    distinct = int(os.environ.get("DISTINCT", 20))
    for number in range(PAGES):
        page = folder / f"page{number:03d}.png"
        model = folder / f"page{number % distinct:03d}.png"
        if page.exists():
            continue
        if number >= distinct:
            shutil.copyfile(model, page)
            continue
        subprocess.run([str(BUILD / "edgebin-genpage"), "--out", str(page), "--gt",
                        str(WORK / "truth.png"), "--seed", str(number + 1), "--width", "1700",
                        "--height", "1200"], check=True, stdout=subprocess.DEVNULL)


def files(folder):
    return {str(p.relative_to(folder)): p.read_bytes() for p in folder.rglob("*") if p.is_file()}


def processor_seconds(client):
    """User and system time of this process (the Dask client and scheduler), of
    its finished children (the command line) and of the Dask workers."""
    def own():
        usage = resource.getrusage(resource.RUSAGE_SELF)
        return usage.ru_utime + usage.ru_stime

    children = resource.getrusage(resource.RUSAGE_CHILDREN)
    return own() + children.ru_utime + children.ru_stime + sum(client.run(own).values())


def timed(run, client):
    start, cpu = time.monotonic(), processor_seconds(client)
    status = run()
    return time.monotonic() - start, processor_seconds(client) - cpu, status


def run_cli(out):
    shutil.rmtree(WORK / out, ignore_errors=True)
    return subprocess.run([str(BUILD / "edgebin"), "--out-dir", out, "--jobs", "2", "--quiet",
                           "pages"], cwd=WORK).returncode


def run_dask(out, address, *options):
    shutil.rmtree(WORK / out, ignore_errors=True)
    return edgebin.dask.main(["pages", "--out-dir", out, "--scheduler", address, "--quiet",
                              *options])


def speed(cluster):
    times = {"edgebin --jobs 2": [], "edgebin.dask, 2 workers": []}
    address = cluster.scheduler_address
    with Client(cluster) as client:
        for _ in range(REPEATS):
            for name, run in zip(times, [lambda: run_cli("cli"),
                                         lambda: run_dask("dask", address)]):
                seconds, cpu, status = timed(run, client)
                assert status == 0, (name, status)
                times[name].append(seconds)
                print(f"{name}: {seconds:.2f} s, {cpu:.1f} processor s (load "
                      f"{os.getloadavg()[0]:.1f})", flush=True)
    assert files(WORK / "dask") == files(WORK / "cli"), "the files differ"
    print(f"{PAGES} pages of 1700 x 1200; load before: {os.getloadavg()[0]:.2f}")
    print("| run | wall s (best) | wall s (median) | pages/s (best) |")
    print("|---|---|---|---|")
    for name, runs in times.items():
        print(f"| {name} | {min(runs):.2f} | {statistics.median(runs):.2f} | "
              f"{PAGES / min(runs):.2f} |")
    cli, dask = (min(runs) for runs in times.values())
    print(f"Dask / command line, best runs: {dask / cli:.3f} (target <= 1.15)")


def killed_worker():
    report = WORK / "killed.jsonl"
    report.unlink(missing_ok=True)
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster, \
            Client(cluster) as client:
        pids = client.run(os.getpid)

        def kill_one():
            while not report.exists() or len(report.read_text().splitlines()) < 40:
                time.sleep(0.05)
            worker, pid = next(iter(pids.items()))
            os.kill(pid, signal.SIGKILL)
            print(f"killed worker {worker} (pid {pid}) after 40 report lines")

        killer = threading.Thread(target=kill_one)
        killer.start()
        status = run_dask("killed", cluster.scheduler_address, "--report", str(report),
                          "--block-size", "8")
        killer.join()
    lines = [json.loads(line) for line in report.read_text().splitlines()]
    inputs = [record["input"] for record in lines]
    print(f"exit status {status}; {len(lines)} report lines, {len(set(inputs))} distinct "
          f"inputs, of {PAGES}; every status ok: {all(r['status'] == 'ok' for r in lines)}")
    written = files(WORK / "killed")
    expected = files(WORK / "cli")
    print(f"files: {len(written)} written, identical to the command line's: "
          f"{written == expected}; names not the command line's: "
          f"{sorted(set(written) - set(expected))}")


def main():
    generate(WORK / "pages")
    os.chdir(WORK)  # both batches are given the same relative paths
    with LocalCluster(n_workers=2, threads_per_worker=1, dashboard_address=None) as cluster:
        speed(cluster)
    killed_worker()


if __name__ == "__main__":
    main()
