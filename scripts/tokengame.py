#!/usr/bin/env python3
"""Plays the token game of a simulator started with -t, from a terminal.

The simulator listens on TCP port 2020 and takes one command per message, a
text ended by "#". This client sends each line typed (or each command given
on its command line) with the "#" added and prints the reply:

    scripts/tokengame.py                          # type commands, end with EXIT
    scripts/tokengame.py TIME FIRELIST "PLACE C1_sem" AUTOFIRE EXIT
    scripts/tokengame.py --host simhost --port 2020 NET

Commands: SINGLESTEP, PLACE <name>, FIRELIST, AUTOFIRE, AUTOTRANS,
FIRE <transition>, NET, TIME, REPLICATION, SETBREAKS <list>, BREAKS, EXIT.
SETBREAKS takes entries "measure:relation:threshold" joined by ";"
(relations = > < >= <=). After SINGLESTEP the simulator fires one event after
the other and waits after each for the next input: PLACE <name> or FIRELIST
is answered, EXIT ends the stepping ("Thanx!"), anything else (an empty line
too) fires the next event.

The simulator sends no reply to EXIT, to unknown commands and to AUTOFIRE
when no event exists; the client then waits --quiet-wait seconds before it
sends the next command, so that two commands never arrive as one message.
The exit status is 0 when every command got its reply, 1 when the
connection failed, closed early or a reply did not come in time. Leaving
without EXIT closes the connection, which ends the game too.
"""
import argparse
import socket
import sys
import time

MAX_MESSAGE = 4096

# What the simulator answers to a command, by the keyword it starts with, in
# the simulator's order (the first match decides):
#   "line"   one line
#   "block"  lines up to an empty line
#   "byte"   a single byte
#   "maybe"  one line, or nothing
#   "none"   nothing
REPLIES = [
    ("SINGLESTEP", "dialogue"),
    ("PLACE", "line"),
    ("FIRELIST", "line"),
    ("AUTOFIRE", "maybe"),
    ("AUTOTRANS", "line"),
    ("FIRE", "line"),
    ("NET", "block"),
    ("TIME", "line"),
    ("REPLICATION", "byte"),
    ("SETBREAKS", "line"),
    ("BREAKS", "line"),
    ("EXIT", "end"),
]


def reply_kind(command):
    for keyword, kind in REPLIES:
        if command.startswith(keyword):
            return kind
    return "none"


class Closed(Exception):
    """The simulator closed the connection."""


class Connection:
    def __init__(self, host, port, retry_seconds, reply_timeout):
        deadline = time.monotonic() + retry_seconds
        while True:
            try:
                self.sock = socket.create_connection((host, port), timeout=10)
                break
            except OSError:
                if time.monotonic() >= deadline:
                    raise
                time.sleep(0.2)
        self.sock.settimeout(reply_timeout)
        self.buffer = b""

    def send(self, command):
        message = (command + "#").encode("utf-8", "surrogateescape")
        if len(message) > MAX_MESSAGE:
            raise ValueError("a command may have at most %d bytes" % (MAX_MESSAGE - 1))
        self.sock.sendall(message)

    def _more(self):
        data = self.sock.recv(65536)
        if not data:
            raise Closed()
        self.buffer += data

    def until(self, end):
        """The reply up to and including `end`."""
        while end not in self.buffer:
            self._more()
        at = self.buffer.index(end) + len(end)
        reply, self.buffer = self.buffer[:at], self.buffer[at:]
        return reply.decode("utf-8", "replace")

    def byte(self):
        if not self.buffer:
            self._more()
        reply, self.buffer = self.buffer[:1], self.buffer[1:]
        return reply.decode("utf-8", "replace")

    def line_or_nothing(self, wait):
        """One line, or None when nothing comes within `wait` seconds."""
        if not self.buffer:
            old = self.sock.gettimeout()
            self.sock.settimeout(wait)
            try:
                self._more()
            except socket.timeout:
                return None
            finally:
                self.sock.settimeout(old)
        return self.until(b"\n")

    def wait_closed(self, wait):
        """True when the simulator closes the connection within `wait` s."""
        self.sock.settimeout(wait)
        try:
            while True:
                self._more()
        except Closed:
            return True
        except socket.timeout:
            return False

    def close(self):
        self.sock.close()


def show(text, out):
    out.write(text if text.endswith("\n") else text + "\n")
    out.flush()


class Game:
    """Sends commands and prints the replies; follows the SINGLESTEP dialogue."""

    def __init__(self, connection, quiet_wait, out):
        self.conn = connection
        self.quiet_wait = quiet_wait
        self.out = out
        self.stepping = False
        self.ended = False

    def prompt(self):
        return "step> " if self.stepping else "> "

    def command(self, text):
        """Sends one command and prints its reply."""
        self.conn.send(text)
        if self.stepping:
            self._step_reply(text)
            return
        kind = reply_kind(text)
        if kind == "dialogue":
            self.stepping = True
            self._next_step()
        elif kind == "line":
            show(self.conn.until(b"\n"), self.out)
        elif kind == "block":
            show(self.conn.until(b"\n\n"), self.out)
        elif kind == "byte":
            show(self.conn.byte(), self.out)
        elif kind == "maybe":
            reply = self.conn.line_or_nothing(self.quiet_wait)
            show("(no event)" if reply is None else reply, self.out)
        elif kind == "end":
            self.ended = True
        else:
            time.sleep(self.quiet_wait)
            show("(no reply)", self.out)

    def _step_reply(self, text):
        if text.startswith("PLACE"):
            show(self.conn.until(b"\n"), self.out)
        elif text.startswith("FIRELIST"):
            show(self.conn.until(b"\n\n"), self.out)
        self._next_step()

    def _next_step(self):
        """Prints the next "Fired: ..." line, or "Thanx!" at the end of the stepping."""
        line = self.conn.until(b"\n")
        show(line, self.out)
        if line == "Thanx!\n":
            self.stepping = False


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0],
                                     formatter_class=argparse.RawDescriptionHelpFormatter,
                                     epilog="\n".join(__doc__.splitlines()[2:]))
    parser.add_argument("commands", nargs="*", help="commands to send, in order (without the '#')")
    parser.add_argument("--host", default="localhost")
    parser.add_argument("--port", type=int, default=2020)
    parser.add_argument("--retry", type=float, default=10.0,
                        help="seconds to keep trying to connect (default 10)")
    parser.add_argument("--timeout", type=float, default=30.0,
                        help="seconds to wait for a reply (default 30)")
    parser.add_argument("--quiet-wait", type=float, default=0.3,
                        help="seconds to wait after a command without reply (default 0.3)")
    options = parser.parse_args(argv)

    try:
        conn = Connection(options.host, options.port, options.retry, options.timeout)
    except OSError as e:
        sys.stderr.write("cannot connect to %s:%d: %s\n" % (options.host, options.port, e))
        return 1
    game = Game(conn, options.quiet_wait, sys.stdout)
    interactive = not options.commands
    commands = iter(options.commands)
    try:
        while not game.ended:
            if interactive:
                try:
                    text = input(game.prompt())
                except EOFError:
                    text = "EXIT"
                    if game.stepping:
                        game.command(text)
                # Outside the stepping an empty line sends nothing.
                if not text and not game.stepping:
                    continue
            else:
                text = next(commands, None)
                if text is None:
                    break
            try:
                game.command(text)
            except ValueError as e:
                show(str(e), sys.stdout)
    except Closed:
        sys.stderr.write("the simulator closed the connection\n")
        return 1
    except socket.timeout:
        sys.stderr.write("no reply within %g s\n" % options.timeout)
        return 1
    except OSError as e:
        sys.stderr.write("%s\n" % e)
        return 1
    finally:
        if game.ended:
            conn.wait_closed(options.timeout)
        conn.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
