#!/usr/bin/env python3
"""Benchmark of a compiled net: runs the profiling mode of the program
(build/workflow by default) on a marking (the bundled one by default) with a
fixed seed and prints events per second (wall clock and CPU) and the peak
memory of each run. When valgrind is installed it also prints the machine
instructions per event, counted by callgrind: the difference between a run
of 2·N and one of N events, divided by N, so that start-up and shutdown
cancel. Instruction counts do not depend on the load of the machine;
timings do.

    scripts/benchmark.py [--program build/workflow] [--marking model/marking.xml]
                         [--events 1000000 10000000] [--instr-events 100000]
"""
import argparse
import os
import re
import resource
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def scratch(marking):
    """A working directory with the marking and no marking database in reach
    (an empty ODBC configuration), so that every run starts alike."""
    work = tempfile.mkdtemp(prefix="bench-")
    shutil.copy(marking, os.path.join(work, "marking.xml"))
    open(os.path.join(work, "odbc.ini"), "w").close()
    env = dict(os.environ, ODBCINI=os.path.join(work, "odbc.ini"), ODBCSYSINI=work)
    return work, env


def profiling_args(events, seed):
    return ["-p", "--fcount", str(events), "--lcount", "1", "--seed", str(seed)]


def run(program, marking, events, seed):
    work, env = scratch(marking)
    try:
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        start = time.perf_counter()
        proc = subprocess.run([program] + profiling_args(events, seed), cwd=work, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
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


def instructions(program, marking, events, seed):
    """Instructions of a whole profiling run of `events` events, by callgrind."""
    work, env = scratch(marking)
    try:
        out = os.path.join(work, "callgrind.out")
        proc = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out, program]
                              + profiling_args(events, seed),
                              cwd=work, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        if proc.returncode != 0:
            sys.stderr.write(proc.stdout + proc.stderr)
            raise SystemExit("the program failed under valgrind")
        with open(out) as f:
            for line in f:
                m = re.match(r"(?:summary|totals):\s+(\d+)", line)
                if m:
                    return int(m.group(1))
        raise SystemExit("no instruction count in the callgrind output")
    finally:
        shutil.rmtree(work, ignore_errors=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--program", default=os.path.join(ROOT, "build", "workflow"))
    ap.add_argument("--marking", default=os.path.join(ROOT, "model", "marking.xml"))
    ap.add_argument("--events", type=int, nargs="*", default=[1000000, 10000000])
    ap.add_argument("--instr-events", type=int, default=100000,
                    help="N of the instruction count (runs of N and 2N events); 0 skips it")
    ap.add_argument("--seed", type=int, default=12345)
    a = ap.parse_args()
    # The runs happen in scratch directories.
    a.program = os.path.abspath(a.program)
    a.marking = os.path.abspath(a.marking)
    if a.events:
        print("%12s %12s %10s %14s %14s %12s" % ("events", "fired", "wall s", "events/s", "events/cpu s",
                                                  "peak MiB"))
    for n in a.events:
        fired, elapsed, cpu, rss = run(a.program, a.marking, n, a.seed)
        print("%12d %12d %10.2f %14.0f %14.0f %12.1f" % (n, fired, elapsed, fired / elapsed,
                                                          fired / cpu if cpu > 0 else 0, rss / 1024.0))
    if a.instr_events > 0:
        if shutil.which("valgrind") is None:
            print("instructions per event: valgrind is not installed")
        else:
            n = a.instr_events
            once = instructions(a.program, a.marking, n, a.seed)
            twice = instructions(a.program, a.marking, 2 * n, a.seed)
            print("instructions per event: %.0f (callgrind, %d against %d events)" % ((twice - once) / n, 2 * n, n))
    return 0


if __name__ == "__main__":
    sys.exit(main())
