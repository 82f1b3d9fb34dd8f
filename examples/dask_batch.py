"""edgebin's file functions on a Dask cluster, in a few lines: the same files as
`edgebin --out-dir OUTPUT_DIR INPUT_DIR` (python3 -m edgebin.dask is the full batch,
with report, progress, resume and clean stops).

    python3 examples/dask_batch.py INPUT_DIR OUTPUT_DIR [SCHEDULER_ADDRESS]
"""
import os
import sys

import edgebin
from dask.distributed import Client, LocalCluster

if __name__ == "__main__":  # LocalCluster's worker processes import this file too
    # Planned here by the command line's rules; absolute paths for the workers.
    plan = [(os.path.abspath(source), os.path.abspath(target))
            for source, target in edgebin.plan_batch([sys.argv[1]], sys.argv[2])]
    cluster = sys.argv[3] if len(sys.argv) > 3 else LocalCluster(threads_per_worker=1)
    with Client(cluster) as client:
        for records in client.gather(client.map(edgebin.binarize_file, *zip(*plan))):
            for record in records:
                print(record["input"], record["page"], record["status"], record["message"])
