#!/usr/bin/env python3
"""Benchmark of the compiled net: runs the profiling mode of build/workflow on
the bundled marking with a fixed seed and prints events per second and the
peak memory of each run.

    scripts/benchmark.py [--program build/workflow] [--events 1000000 10000000]
"""
import argparse
import os
import resource
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(program, events, seed):
    work = tempfile.mkdtemp(prefix="bench-")
    try:
        shutil.copy(os.path.join(ROOT, "model", "marking.xml"), os.path.join(work, "marking.xml"))
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        proc = subprocess.run(
            [program, "-p", "--fcount", str(events), "--lcount", "1", "--seed", str(seed)],
            cwd=work, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        elapsed = time.perf_counter() - start
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if proc.returncode != 0:
            sys.stderr.write(proc.stdout + proc.stderr)
            raise SystemExit("the program failed")
        fired = None
        for line in proc.stdout.splitlines():
            if line.startswith("Global fire count: "):
                fired = int(line.split(": ")[1])
        cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        # ru_maxrss of the children is the largest of them so far, in KiB.
        return fired, elapsed, cpu, after.ru_maxrss
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", default=os.path.join(ROOT, "build", "workflow"))
    ap.add_argument("--events", type=int, nargs="+", default=[1000000, 10000000])
    ap.add_argument("--seed", type=int, default=12345)
    a = ap.parse_args()
    print("%12s %12s %10s %14s %12s" % ("events", "fired", "wall s", "events/s", "peak MiB"))
    for n in a.events:
        fired, elapsed, cpu, rss = run(a.program, n, a.seed)
        print("%12d %12d %10.2f %14.0f %12.1f" % (n, fired, elapsed, fired / elapsed, rss / 1024.0))
    return 0


if __name__ == "__main__":
    sys.exit(main())
