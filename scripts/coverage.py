#!/usr/bin/env python3
"""Coverage of the confidence intervals on nets whose exact answers are known.

Runs the test-net programs of a build (tests/nets/ under the build directory)
over many seeds and prints, per case, how often the interval of results.log
covers the exact value, with the binomial 95 % band around the nominal level,
and the bias of the point estimate (mean relative error and its standard
error).

The nets (tests/model/nets/):
  mm1k5   M/M/1/5 queue, arrival rate 0.8, service rate 1; measure InSystem
  mm1k20  M/M/1/20 queue, arrival rate 0.95, service rate 1; measure InSystem
  onoff   a token alternating On/Off with exponential delays of mean 1;
          OnFraction (stationary 0.5) and OnNow (P(On at t) = 0.5 + 0.5 e^-2t)

  mm1rare10, mm1rare20, mm1rare30
          M/M/1 queue, arrival rate 0.5, service rate 1, no capacity; measure
          Rare = P(#Queue >= k) = 0.5^k for k = 10, 20, 30 (RESTART, -R)
  overflow (examples/overflow, built as BUILD/tests/examples/overflow)
          M/M/1/15 queue, arrival rate 0.5, service rate 1; measure
          Overflow = P(#Queue >= 12) (RESTART)

Stationary cases run at --epsmax 2, 1 and 0.5; transient cases at several
sampling points; RESTART cases at --epsmax 10 and 5 with thresholds every
three customers and 8 paths per threshold (about 1/P(climbing three more)),
without a model-time limit. --confidence 95 gives intervals at the 97.5 % level (the
Student quantile at 1 - alpha/2 of the two-sided table), so the nominal
coverage is 0.975.

Usage: scripts/coverage.py [--build DIR] [--seeds N] [--first-seed S] [--jobs J]
                           [--only SUBSTRING]
Python 3 standard library only.
"""
import argparse
import concurrent.futures
import math
import os
import re
import subprocess
import sys
import tempfile
import time

CONFIDENCE = 95.0
NOMINAL = 1.0 - (1.0 - CONFIDENCE / 100.0) / 2.0


def queue_mean(arrival, service, capacity):
    """Mean number in an M/M/1/K system (birth-death stationary law)."""
    rho = arrival / service
    weights = [rho ** n for n in range(capacity + 1)]
    return sum(n * w for n, w in enumerate(weights)) / sum(weights)


def on_probability(t):
    return 0.5 + 0.5 * math.exp(-2.0 * t)


def marking(tokens):
    lines = ["<marking>"]
    for place, count in tokens:
        lines += ['  <token place="%s" value="0"/>' % place] * count
    return "\n".join(lines + ["</marking>", ""])


# name, net, marking, measure, exact value (stationary) or function of t
# (transient), command-line arguments without seed and epsmax.
STATIONARY = [
    ("mm1k5", "mm1k5", marking([("Free", 5)]), "InSystem", queue_mean(0.8, 1.0, 5)),
    ("mm1k20", "mm1k20", marking([("Free", 20)]), "InSystem", queue_mean(0.95, 1.0, 20)),
    ("onoff", "onoff", marking([("On", 1)]), "OnFraction", 0.5),
]
STATIONARY_EPSMAX = ["2", "1", "0.5"]

# name, program, measure, exact value, RESTART arguments (thresholds every
# three customers, 8 paths per threshold).
RESTART = [
    ("mm1rare10", "mm1rare10", "Rare", 0.5 ** 10, ["--thrmin", "1", "--thrmax", "10", "--thrnumber", "2"]),
    ("mm1rare20", "mm1rare20", "Rare", 0.5 ** 20, ["--thrmin", "2", "--thrmax", "20", "--thrnumber", "5"]),
    ("mm1rare30", "mm1rare30", "Rare", 0.5 ** 30, ["--thrmin", "3", "--thrmax", "30", "--thrnumber", "8"]),
    ("overflow", "../examples/overflow", "Overflow", (0.5 ** 12 - 0.5 ** 16) / (1 - 0.5 ** 16),
     ["--thrmin", "2", "--thrmax", "11", "--thrnumber", "2"]),
]
RESTART_EPSMAX = ["10", "5"]

# name, window stop, sampling points, epsmax
TRANSIENT = [
    ("onoff 7 points over [0,7]", "7", "7", "5"),
    ("onoff 2 points over [0,1]", "1", "2", "5"),
    ("onoff 8 points over [0,7]", "7", "8", "2"),
]

ROW = re.compile(r"^\t(\S+)\t(\S+)\t\[(\S+);(\S+)\]\t(\S+)$")
TRANSIENT_ROW = re.compile(r"^\t(\S+)\t(\S+)\t(\S+)\t\[(\S+);(\S+)\]\t(\S+)$")


def measure_block(log, measure):
    at = log.find("Measure: %s\n" % measure)
    if at < 0:
        return []
    end = log.find("Measure: ", at + 1)
    return log[at:end if end >= 0 else len(log)].split("\n")


def run(program, marking_text, args):
    """Runs one program in a scratch directory: (stdout, results.log)."""
    with tempfile.TemporaryDirectory(prefix="coverage-") as work:
        with open(os.path.join(work, "marking.xml"), "w") as f:
            f.write(marking_text)
        with open(os.path.join(work, "odbc.ini"), "w") as f:
            f.write("")
        env = dict(os.environ, ODBCINI=os.path.join(work, "odbc.ini"), ODBCSYSINI=work)
        done = subprocess.run([program] + args, cwd=work, env=env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, universal_newlines=True, errors="replace")
        try:
            with open(os.path.join(work, "results.log")) as f:
                log = f.read()
        except OSError:
            log = ""
        return done.stdout, log


def fire_count(out):
    m = re.search(r"Global fire count: (\d+)", out)
    return int(m.group(1)) if m else 0


class Tally:
    """Coverage and relative error of one case."""

    def __init__(self):
        self.runs = self.covered = self.missing = self.successful = self.warned = 0
        self.errors = []
        self.events = 0

    def add(self, low, mean, high, exact):
        self.runs += 1
        if low <= exact <= high:
            self.covered += 1
        self.errors.append((mean - exact) / exact)

    def line(self, name):
        n = self.runs
        if n == 0:
            return "%-34s no rows (%d runs without a result row)" % (name, self.missing)
        band = 1.96 * math.sqrt(NOMINAL * (1.0 - NOMINAL) / n)
        bias = sum(self.errors) / n
        sd = math.sqrt(sum((e - bias) ** 2 for e in self.errors) / (n - 1)) if n > 1 else 0.0
        text = "%-34s %4d  %5.3f  [%5.3f, %5.3f]  %+9.5f%%  %8.5f%%" % (
            name, n, self.covered / n, NOMINAL - band, min(1.0, NOMINAL + band), 100 * bias,
            100 * sd / math.sqrt(n))
        return text


HEADER = "%-34s %4s  %5s  %14s  %10s  %9s" % ("case", "runs", "cover", "95 % band", "bias", "s.e.")


def timed_run(program, marking_text, args, measure):
    """One run: standard output, the result rows of `measure`, wall seconds."""
    started = time.monotonic()
    out, log = run(program, marking_text, args)
    rows = [ROW.match(line) for line in measure_block(log, measure)]
    return out, [r for r in rows if r], time.monotonic() - started


def tally_runs(one, seeds, jobs, exact, success_text):
    """Runs `one` per seed and tallies the last result row of each run."""
    tally = Tally()
    tally.seconds = 0.0
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for out, rows, took in pool.map(one, seeds):
            tally.events += fire_count(out)
            tally.seconds += took
            if success_text in out:
                tally.successful += 1
            if "Accepted by the per-cent rule" in out:
                tally.warned += 1
            if not rows:
                tally.missing += 1
                continue
            r = rows[-1]
            tally.add(float(r.group(3)), float(r.group(1)), float(r.group(4)), exact)
    return tally


def stationary_case(program_dir, case, epsmax, seeds, jobs):
    name, net, marking_text, measure, exact = case
    program = os.path.join(program_dir, net)

    def one(seed):
        args = ["-S", "--mstart", "0", "--mstop", "0", "--confidence", str(CONFIDENCE), "--epsmax", epsmax,
                "--secmax", "600", "--seed", str(seed)]
        return timed_run(program, marking_text, args, measure)

    tally = tally_runs(one, seeds, jobs, exact, "SIMULATION SUCCESSFUL")
    label = "%s --epsmax %s" % (name, epsmax)
    print(tally.line(label) + "   %d ok, %d per-cent, %.0f events" % (
        tally.successful, tally.warned, tally.events / max(1, len(seeds))), flush=True)


def restart_case(program_dir, case, epsmax, seeds, jobs):
    name, net, measure, exact, thresholds = case
    program = os.path.join(program_dir, net)

    def one(seed):
        args = ["-R", "--mstart", "0", "--mstop", "0"] + thresholds + [
            "--repeats", "8", "--confidence", str(CONFIDENCE), "--epsmax", epsmax, "--secmax", "600",
            "--seed", str(seed)]
        return timed_run(program, marking([]), args, measure)

    tally = tally_runs(one, seeds, jobs, exact, "RESTART simulation finished.")
    label = "%s --epsmax %s" % (name, epsmax)
    print(tally.line(label) + "   %d ok, %.0f events, %.1f s per run" % (
        tally.successful, tally.events / max(1, len(seeds)), tally.seconds / max(1, len(seeds))), flush=True)


def transient_case(program_dir, case, seeds, jobs):
    name, stop, points, epsmax = case
    program = os.path.join(program_dir, "onoff")
    marking_text = marking([("On", 1)])

    def one(seed):
        args = ["-T", "--mstart", "0", "--mstop", stop, "--nofsampling", points, "--confidence", str(CONFIDENCE),
                "--epsmax", epsmax, "--secmax", "600", "--seed", str(seed)]
        out, log = run(program, marking_text, args)
        rows = [TRANSIENT_ROW.match(line) for line in measure_block(log, "OnNow")]
        return out, [r for r in rows if r]

    per_point = {}
    pooled = Tally()
    short = 0
    successful = warned = 0
    with concurrent.futures.ThreadPoolExecutor(max_workers=jobs) as pool:
        for out, rows in pool.map(one, seeds):
            successful += "SIMULATION SUCCESSFUL" in out
            warned += "Accepted by the per-cent rule" in out
            if len(rows) != int(points):
                short += 1
            for r in rows:
                t = float(r.group(1))
                if t == 0.0:
                    continue  # P(On at 0) = 1 exactly: no spread to cover
                exact = on_probability(t)
                tally = per_point.setdefault(t, Tally())
                for target in (tally, pooled):
                    target.add(float(r.group(4)), float(r.group(2)), float(r.group(5)), exact)
    print("%s, --epsmax %s: %d ok, %d per-cent, %d runs with fewer than %s rows" % (
        name, epsmax, successful, warned, short, points), flush=True)
    for t in sorted(per_point):
        print(per_point[t].line("  t = %.4g" % t), flush=True)
    print(pooled.line("  all points (t > 0)"), flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default="build", help="build directory (default: build)")
    parser.add_argument("--programs", help="folder of the test-net programs (default: BUILD/tests/nets)")
    parser.add_argument("--seeds", type=int, default=200, help="seeds per case (default: 200)")
    parser.add_argument("--first-seed", type=int, default=900001,
                        help="first seed; the others follow in steps of 7919 (default: 900001)")
    parser.add_argument("--jobs", type=int, default=os.cpu_count() or 1, help="programs run at once")
    parser.add_argument("--only", default="", help="run only the cases whose name contains this text")
    options = parser.parse_args()

    program_dir = os.path.abspath(options.programs or os.path.join(options.build, "tests", "nets"))
    wanted = [c[1] for c in STATIONARY if options.only in c[0]] + ["onoff"] * any(
        options.only in c[0] for c in TRANSIENT) + [c[1] for c in RESTART if options.only in c[0]]
    for net in wanted:
        if not os.access(os.path.join(program_dir, net), os.X_OK):
            sys.exit("missing program %s in %s: build the tests first" % (net, program_dir))
    seeds = [options.first_seed + 7919 * i for i in range(options.seeds)]

    print("nominal coverage %.3f (--confidence %g), %d seeds per case from %d" % (
        NOMINAL, CONFIDENCE, len(seeds), seeds[0]))
    print("bias: mean relative error of the point estimate, s.e.: its standard error")
    print()
    print("Stationary")
    print(HEADER)
    for case in STATIONARY:
        for epsmax in STATIONARY_EPSMAX:
            if options.only in "%s --epsmax %s" % (case[0], epsmax):
                stationary_case(program_dir, case, epsmax, seeds, options.jobs)
    print()
    print("RESTART")
    print(HEADER)
    for case in RESTART:
        for epsmax in RESTART_EPSMAX:
            if options.only in "%s --epsmax %s" % (case[0], epsmax):
                restart_case(program_dir, case, epsmax, seeds, options.jobs)
    print()
    print("Transient (OnNow)")
    print(HEADER)
    for case in TRANSIENT:
        if options.only in case[0]:
            transient_case(program_dir, case, seeds, options.jobs)


if __name__ == "__main__":
    main()
