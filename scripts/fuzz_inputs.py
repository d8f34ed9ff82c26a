#!/usr/bin/env python3
"""Feeds the program hostile command lines and marking files and checks that
every run ends in its time with exit status 0 or 1 and without a report of
the sanitizers (run it against the sanitizer build).

    scripts/fuzz_inputs.py [--program build-asan/workflow] [--cases 300] [--seed 17]

The cases come from a fixed seed, so a run is repeatable; a failing case is
printed with its command line and, for a marking case, the file is kept in
the scratch folder named in the report. The marking database is kept out of
reach (an empty ODBC configuration), so that every case is quick.
"""

import argparse
import os
import random
import shutil
import socket
import subprocess
import sys
import tempfile
import time

GOOD_MARKING = ('<?xml version="1.0"?>\n<marking>\n'
                '  <token place="P_thread_pool" value="1"/>\n  <token place="P_thread_pool" value="2"/>\n'
                '  <token place="C1_sem" value="3"/>\n  <token place="C1_sem" value="4"/>\n</marking>\n')

# A quick run that reads the marking and ends by its model time.
MARKING_ARGS = ["-S", "--mstart", "0", "--mstop", "5", "--secmax", "2", "--seed", "1"]

SANITIZER_WORDS = ("AddressSanitizer", "LeakSanitizer", "runtime error:", "UndefinedBehaviorSanitizer")

MODES = ["-S", "-T", "-R", "-t", "-p"]

# The token game's fixed port: run no other token game meanwhile.
TOKEN_GAME_PORT = 2020

# Hostile texts for any value: empty, blanks, signs, overflows, garbage.
NASTY = ["", " ", "-", "+", "-1", "-0", "0", "1e309", "-1e309", "nan", "inf", "0x10", "1 2", "4294967295",
         "4294967296", "2147483647", "2147483648", "-2147483649", "99999999999999999999", "1.5", "abc", "\t",
         "%s%n", "\u00e9", "12:00:00@01/01/2000", "99:99:99@99/99/9999", "00:00:00@02/30/2000", "\\", "'", "\""]

# Option name -> generator of a plausible value (the nasty ones are mixed in).
def plausible(rng):
    return {
        "--resport": lambda: rng.choice(["NULL", "127.0.0.1", "0.0.0.0", "256.1.1.1", "x" * 300]),
        "--start": lambda: rng.choice(["12:00:00@01/01/2000", "00:00:00@01/01/0001", "23:59:59@12/31/9999",
                                       "12:00:00@02/29/2001", "1:2:3@4/5/6"]),
        "--stop": lambda: rng.choice(["12:00:10@01/01/2000", "13:00:00@01/01/2000", "00:00:00@01/01/0001"]),
        "--mstart": lambda: rng.choice(["0", "1", "10", "1e6", "-5", "1e300"]),
        "--mstop": lambda: rng.choice(["0", "5", "10", "20", "1e9", "1e300", "-1"]),
        "--fcount": lambda: rng.choice(["0", "1", "100", "5000", "-3"]),
        "--lcount": lambda: rng.choice(["0", "1", "3", "-1"]),
        "--logdir": lambda: rng.choice(["Log", "missing", "", "/dev/null", "."]),
        "--seed": lambda: rng.choice(["0", "1", "12345", "4294967295"]),
        "--confidence": lambda: rng.choice(["80", "90", "95", "99.8", "99.9", "79.99", "50", "100"]),
        "--epsmax": lambda: rng.choice(["1", "5", "50", "0", "-1", "1e-9", "1000"]),
        "--secmax": lambda: rng.choice(["1", "2"]),
        "--nofsampling": lambda: rng.choice(["0", "1", "2", "11", "1000", "1000000", "1000001", "2147483648"]),
        "--percentage": lambda: rng.choice(["true", "false", "1", "0", "maybe"]),
        "--inittrans": lambda: rng.choice(["true", "false", "yes"]),
        "--thrmin": lambda: rng.choice(["0", "1.5", "-1"]),
        "--thrmax": lambda: rng.choice(["0", "99", "1e300"]),
        "--thrnumber": lambda: rng.choice(["0", "3", "-1"]),
        "--repeats": lambda: rng.choice(["0", "2", "-1"]),
    }


def command_line(rng):
    values = plausible(rng)
    args = []
    # Usually one mode switch, sometimes none, two, or an unknown one.
    r = rng.random()
    if r < 0.85:
        args.append(rng.choice(MODES))
    elif r < 0.93:
        args += rng.sample(MODES, 2)
    elif r < 0.97:
        args.append(rng.choice(["-x", "--bogus", "-", "--"]))
    for name in rng.sample(sorted(values), rng.randint(0, 8)):
        if name == "--secmax":
            continue
        value = rng.choice(NASTY) if rng.random() < 0.3 else values[name]()
        # Profiling has no time limit: keep its event counts small.
        if name in ("--fcount", "--lcount") and value.lstrip("+").isdigit() and int(value) > 5000:
            value = "5000"
        args += [name, value]
    if rng.random() < 0.1:
        args.append("-l")
    if rng.random() < 0.1:
        args.append(rng.choice(["--secmax", "--mstart", "--seed"]))  # a value missing at the end
    else:
        # --secmax 0 means no wall-clock limit at all: every case keeps one.
        args += ["--secmax", rng.choice(["1", "2", "-1", "", "x"])]
    return args


def mutate(rng, text):
    data = bytearray(text.encode("utf-8"))
    for _ in range(rng.randint(1, 8)):
        op = rng.random()
        pos = rng.randrange(len(data) + 1)
        if op < 0.3 and data:
            data[rng.randrange(len(data))] = rng.randrange(256)
        elif op < 0.5:
            data[pos:pos] = bytes(rng.choice([b"<", b">", b"&", b";", b"\"", b"'", b"\x00", b"\xff", b"]]>",
                                              b"<!--", b"<?", b"&#0;", b"&#x110000;", b"&amp;", b"\n"]))
        elif op < 0.7 and data:
            end = min(len(data), pos + rng.randint(1, 40))
            del data[pos:end]
        else:
            piece = data[pos:pos + rng.randint(1, 60)]
            data[pos:pos] = piece * rng.randint(1, 50)
    return bytes(data)


def entity_marking(rng):
    kind = rng.randrange(6)
    if kind == 0:  # nested entities (billion laughs)
        depth = rng.randint(2, 9)
        decl = '<!ENTITY e0 "' + "x" * rng.randint(1, 20) + '">'
        for i in range(1, depth + 1):
            decl += '<!ENTITY e%d "%s">' % (i, ("&e%d;" % (i - 1)) * rng.randint(2, 12))
        body = '<m><token place="C1_sem" value="&e%d;"/></m>' % depth
        return ("<!DOCTYPE m [%s]>\n%s" % (decl, body)).encode()
    if kind == 1:  # one large entity, many references
        size = rng.choice([1000, 50000, 100000, 200000])
        refs = "&big;" * rng.choice([10, 300, 3000])
        where = rng.choice(['<token place="C1_sem" value="1">%s</token>', '<token place="C1_sem" value="%s"/>'])
        return ('<!DOCTYPE m [<!ENTITY big "%s">]>\n<m>%s</m>' % ("y" * size, where % refs)).encode()
    if kind == 2:  # external entities and DTDs
        return rng.choice([
            b'<!DOCTYPE m SYSTEM "/etc/passwd"><m/>',
            b'<!DOCTYPE m [<!ENTITY s SYSTEM "/etc/passwd">]><m><token place="C1_sem" value="&s;"/></m>',
            b'<!DOCTYPE m [<!ENTITY % p SYSTEM "/etc/passwd"> %p;]><m/>',
            b'<!DOCTYPE m [<!ENTITY s SYSTEM "http://127.0.0.1:9/x">]><m>&s;</m>'])
    if kind == 3:  # deep nesting
        depth = rng.choice([100, 10000, 100000])
        return ("<a>" * depth + '<token place="C1_sem" value="1"/>' + "</a>" * depth).encode()
    if kind == 4:  # many tokens and huge values
        n = rng.choice([1, 1000, 20000])
        value = rng.choice(["1", "99999999999999999999", "-99999999999999999999", "1" * 5000, ""])
        return ("<m>" + ('<token place="P_thread_pool" value="%s"/>' % value) * n + "</m>").encode()
    return rng.choice([b"", b"\xef\xbb\xbf", b"\xff\xfe<\x00m\x00/\x00>\x00", b"<m>" + b"\x80" * 100 + b"</m>",
                       b'<?xml version="1.0" encoding="nonsense"?><m/>', b'<?xml version="9.9"?><m/>'])


def marking_case(rng, folder):
    """Writes the marking.xml of one case; returns its description."""
    path = os.path.join(folder, "marking.xml")
    r = rng.random()
    if r < 0.03:
        os.mkdir(path)
        return "a directory"
    if r < 0.05:
        os.symlink("/dev/zero", path)
        return "a link to /dev/zero"
    if r < 0.07:
        return "no file"
    data = mutate(rng, GOOD_MARKING) if r < 0.6 else entity_marking(rng)
    with open(path, "wb") as f:
        f.write(data)
    return "%d bytes" % len(data)


def end_token_game(p, deadline):
    """A token game waits for its front end on port 2020: once it listens,
    send it EXIT (unless the program ends first, e.g. on a bad option)."""
    while p.poll() is None and time.monotonic() < deadline:
        try:
            with socket.create_connection(("127.0.0.1", TOKEN_GAME_PORT), timeout=5) as s:
                s.sendall(b"EXIT#")
                return
        except OSError:
            time.sleep(0.1)


def run_case(program, args, folder, timeout):
    env = dict(os.environ)
    env["ODBCINI"] = os.path.join(folder, "odbc.ini")
    env["ODBCSYSINI"] = folder
    # A leak report fails the run; the sanitizers' own exit code stays apart from 0 and 1.
    env.setdefault("ASAN_OPTIONS", "detect_leaks=1:exitcode=86")
    env.setdefault("UBSAN_OPTIONS", "print_stacktrace=1:halt_on_error=1:exitcode=87")
    started = time.monotonic()
    p = subprocess.Popen([program] + args, cwd=folder, env=env, stdin=subprocess.DEVNULL,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if "-t" in args:
        end_token_game(p, started + timeout)
    try:
        _, err = p.communicate(timeout=max(1, timeout - (time.monotonic() - started)))
    except subprocess.TimeoutExpired:
        p.kill()
        p.communicate()
        return "did not end within %d s" % timeout, time.monotonic() - started
    err = err.decode("utf-8", "replace")
    if any(word in err for word in SANITIZER_WORDS):
        lines = [l for l in err.splitlines() if any(w in l for w in SANITIZER_WORDS)]
        return "sanitizer report: " + lines[0][:300], time.monotonic() - started
    if p.returncode not in (0, 1):
        return "exit status %d: %s" % (p.returncode, err[-300:]), time.monotonic() - started
    return None, time.monotonic() - started


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--program", default=os.path.join(here, "..", "build-asan", "workflow"))
    parser.add_argument("--cases", type=int, default=300, help="cases in all, half command lines, half markings")
    parser.add_argument("--seed", type=int, default=17)
    parser.add_argument("--timeout", type=int, default=60, help="seconds one run may take")
    options = parser.parse_args()
    program = os.path.abspath(options.program)
    if not os.access(program, os.X_OK):
        sys.exit("no program at %s (build it with -DSIM_SANITIZE=ON first)" % program)

    rng = random.Random(options.seed)
    failures = 0
    slowest = 0.0
    scratch = tempfile.mkdtemp(prefix="fuzz-inputs-")
    for case in range(options.cases):
        folder = os.path.join(scratch, "case%04d" % case)
        os.mkdir(folder)
        open(os.path.join(folder, "odbc.ini"), "w").close()
        if case % 2 == 0:
            with open(os.path.join(folder, "marking.xml"), "w") as f:
                f.write(GOOD_MARKING)
            os.mkdir(os.path.join(folder, "Log"))
            args = command_line(rng)
            what = "command line " + " ".join(repr(a) for a in args)
        else:
            what = "marking.xml (%s)" % marking_case(rng, folder)
            args = MARKING_ARGS
        problem, seconds = run_case(program, args, folder, options.timeout)
        slowest = max(slowest, seconds)
        if problem:
            failures += 1
            print("case %d: %s\n    %s\n    kept in %s" % (case, what, problem, folder), flush=True)
        else:
            shutil.rmtree(folder, ignore_errors=True)
    print("%d passed, %d failed (seed %d, slowest run %.1f s)" % (options.cases - failures, failures,
                                                                  options.seed, slowest))
    if failures == 0:
        shutil.rmtree(scratch, ignore_errors=True)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
