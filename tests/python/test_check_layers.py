"""scripts/check_layers.py on small trees with one planted include: it fails on an
include against the floors and passes on one that keeps them."""

import subprocess
import sys
from pathlib import Path

import pytest

SCRIPT = Path(__file__).resolve().parents[2] / "scripts" / "check_layers.py"
ROOMS = ("app", "common", "global", "stroke", "local", "pipeline", "include/edgebin", "tools")


@pytest.mark.parametrize("source, include, status", [
    ("common/a.h", "pipeline/binarize.h", 1),
    ("common/a.cpp", "stroke/stroke_width.h", 1),
    ("local/a.cpp", "pipeline/binarize.h", 1),
    ("pipeline/a.cpp", "app/arguments.h", 1),
    ("stroke/a.h", "app/arguments.h", 1),
    ("global/a.cpp", "tools/evaluation/metrics.h", 1),
    ("local/a.cpp", "common/labelling.h", 0),
    ("pipeline/a.cpp", "local/local_threshold.h", 0),
    ("app/a.cpp", "pipeline/binarize.h", 0),
    ("common/a.cpp", "edgebin/edgebin.hpp", 0),
])
def test_planted_include(tmp_path, source, include, status):
    for room in ROOMS:
        (tmp_path / room).mkdir(parents=True)
    (tmp_path / source).write_text(f'#include <vector>\n  #  include "{include}"\n')
    run = subprocess.run([sys.executable, str(SCRIPT), str(tmp_path)],
                         capture_output=True, text=True)
    assert run.returncode == status, run.stderr
    assert (f"{source}:2:" in run.stderr) == (status == 1)
    target = "include" if include.startswith("edgebin/") else include.split("/")[0]
    assert run.stdout == f"{source.split('/')[0]} -> {target}: 1\n"
