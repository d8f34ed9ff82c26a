#!/usr/bin/env python3
"""Receives the result stream of one simulation run and shows it.

The simulator connects to the address given with --resport and sends text
lines: NETNAME, XTICKFORMAT, STARTTIME/ENDTIME (transient runs), TIME, the
estimate of each watched measure at every sampling point, the values and
display values of watched places and transitions after each firing, and
"EXIT;0" at the end. This program listens for that connection, prints one
line per sampling point (the clock and each measure's mean and interval) and,
with --csv, writes every estimate, value and display value as a CSV row.

    scripts/listen_results.py --port 5000 [--csv run.csv] &
    build/workflow -T ... --resport 127.0.0.1:5000

With --port 0 (the default) the system picks a free port; the first line
printed, "listening on HOST:PORT", names it. The program ends after "EXIT;0"
(exit status 0), or when the simulator closes the connection without it
(exit status 1).
"""
import argparse
import csv
import re
import socket
import sys

# The longest line accepted; a longer one is reported and dropped, so that a
# broken peer cannot make the buffer grow without bound.
MAX_LINE = 64 * 1024

ESTIMATE = re.compile(r"^(?P<name>.*)<(?P<type>[^<>]*):Mean>,<-ConfMin>,<\+ConfMax>;"
                      r"(?P<mean>[^,]*),(?P<low>[^,]*),(?P<high>[^,]*)$")
DISPLAY = re.compile(r"^(?P<name>.*)<(?P<type>[^<>]*):Display>;(?P<value>[^;]*)$")
VALUE = re.compile(r"^(?P<name>.*)<(?P<type>[^<>:]*)>;(?P<value>[^;]*)$")

CSV_HEADER = ["kind", "time", "name", "type", "mean", "low", "high", "value"]


class StreamReader:
    """Interprets the lines of one result stream."""

    def __init__(self, out, csv_writer=None):
        self.out = out
        self.csv = csv_writer
        self.time = None
        self.pending_time = None   # sampling point whose estimates are being collected
        self.pending = []          # (name, mean, low, high) at pending_time
        self.exited = False
        self.malformed = 0

    def line(self, text):
        if text.startswith("TIME;"):
            self.time = text[5:]
            return
        for key in ("NETNAME;", "XTICKFORMAT;", "STARTTIME;", "ENDTIME;"):
            if text.startswith(key):
                self.flush()
                self.out.write("%s %s\n" % (key[:-1].lower(), text[len(key):]))
                return
        if text.startswith("EXIT;"):
            self.flush()
            self.out.write("exit %s\n" % text[5:])
            self.exited = True
            return
        m = ESTIMATE.match(text)
        if m:
            if self.pending_time is not None and self.pending_time != self.time:
                self.flush()
            self.pending_time = self.time
            self.pending.append((m.group("name"), m.group("mean"), m.group("low"), m.group("high")))
            self.row("estimate", m.group("name"), m.group("type"), m.group("mean"), m.group("low"),
                     m.group("high"), "")
            return
        m = DISPLAY.match(text) or VALUE.match(text)
        if m:
            kind = "display" if m.re is DISPLAY else "value"
            self.row(kind, m.group("name"), m.group("type"), "", "", "", m.group("value"))
            return
        self.malformed += 1

    def row(self, kind, name, type_, mean, low, high, value):
        if self.csv is None:
            return
        # The numbers are written as the stream has them (%.16g), which
        # spreadsheets read as numbers.
        self.csv.writerow([kind, self.time or "", name, type_, mean, low, high, value])

    def flush(self):
        """Prints the summary line of the sampling point collected so far."""
        if not self.pending:
            return
        parts = ["%s %s [%s; %s]" % p for p in self.pending]
        self.out.write("t=%s  %s\n" % (self.pending_time, "  ".join(parts)))
        self.out.flush()
        self.pending = []
        self.pending_time = None


def serve(listener, reader):
    conn, peer = listener.accept()
    reader.out.write("connected from %s:%d\n" % peer)
    reader.out.flush()
    buffered = b""
    with conn:
        while not reader.exited:
            chunk = conn.recv(65536)
            if not chunk:
                break
            buffered += chunk
            while b"\n" in buffered:
                raw, buffered = buffered.split(b"\n", 1)
                reader.line(raw.decode("latin-1"))
                if reader.exited:
                    break
            if len(buffered) > MAX_LINE:
                sys.stderr.write("dropping a line longer than %d bytes\n" % MAX_LINE)
                buffered = b""
                reader.malformed += 1
    reader.flush()
    if reader.malformed:
        sys.stderr.write("%d line(s) not understood\n" % reader.malformed)
    if not reader.exited:
        sys.stderr.write("the simulator closed the connection without EXIT;0\n")
        return 1
    return 0


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--host", default="127.0.0.1", help="address to listen on (default 127.0.0.1)")
    parser.add_argument("--port", type=int, default=0, help="port to listen on (default: a free one)")
    parser.add_argument("--csv", metavar="FILE", help="write every estimate, value and display value here")
    args = parser.parse_args(argv)
    if not 0 <= args.port <= 65535:
        parser.error("the port must lie between 0 and 65535")

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.bind((args.host, args.port))
    except OSError as e:
        sys.stderr.write("cannot listen on %s:%d: %s\n" % (args.host, args.port, e.strerror))
        return 2
    listener.listen(1)
    host, port = listener.getsockname()
    print("listening on %s:%d" % (host, port), flush=True)

    csv_file = None
    try:
        writer = None
        if args.csv:
            csv_file = open(args.csv, "w", newline="")
            writer = csv.writer(csv_file)
            writer.writerow(CSV_HEADER)
        return serve(listener, StreamReader(sys.stdout, writer))
    except KeyboardInterrupt:
        return 130
    finally:
        listener.close()
        if csv_file is not None:
            csv_file.close()


if __name__ == "__main__":
    sys.exit(main())
