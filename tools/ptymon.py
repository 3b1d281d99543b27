#!/usr/bin/python3
"""ptymon: run a program against a pseudo-terminal that stands in for a serial
line, and report what the program did to the line.

    ptymon.py [--baud 9600] [--timeout 120] [--label TEXT] [--hold SECONDS] -- COMMAND [ARGS...]

Every "{pty}" in COMMAND and ARGS is replaced by the path of the terminal's
slave side (e.g. /dev/pts/4), which is also in the environment as XB_PTY.
Before the program starts the line is put in raw mode at the given speed,
8 data bits, no parity, one stop bit. While it runs, the monitor reads
everything that arrives on the line and polls the line settings (tcgetattr
on its own handle to the slave side) to record each change. Then it prints
the bytes that arrived, the settings seen while the program ran, the settings
after it ended, and the exit code.

With --hold the far end holds the line before the program starts: XON/XOFF
output flow control is switched on and an XOFF is sent, so that the
program's first write waits in the terminal. The XON follows as soon as the
settings are seen to change (or after SECONDS): a program that switches the
line, writes and switches back within a millisecond, as one running under an
emulation layer may, is then seen at its writing speed. The program's writes
still arrive whole; only their timing changes.

Limits of a pseudo-terminal as a stand-in: Linux reports 8 data bits and no
parity whatever a program sets (the driver forces them), and a change that is
undone within one poll interval can be missed; the settings are also sampled
when data arrives.

The monitor exits with the program's exit code, 124 when the program was
stopped after --timeout seconds, 127 when it could not be started.
"""
import argparse
import os
import select
import signal
import subprocess
import sys
import termios
import time
import tty

SPEEDS = {getattr(termios, name): int(name[1:])
          for name in dir(termios)
          if name.startswith("B") and name[1:].isdigit()}
DATA_BITS = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}
CRTSCTS = getattr(termios, "CRTSCTS", 0)


def speed_constant(baud):
    name = "B%d" % baud
    if not hasattr(termios, name):
        raise SystemExit("ptymon: unsupported speed %d" % baud)
    return getattr(termios, name)


class LineState:
    """The parts of a terminal's settings that a serial program changes."""

    def __init__(self, attrs):
        iflag, _oflag, cflag, lflag, ispeed, ospeed, _cc = attrs
        self.ispeed = SPEEDS.get(ispeed, ispeed)
        self.ospeed = SPEEDS.get(ospeed, ospeed)
        self.data_bits = DATA_BITS.get(cflag & termios.CSIZE, "?")
        if not cflag & termios.PARENB:
            self.parity = "no"
        else:
            self.parity = "odd" if cflag & termios.PARODD else "even"
        self.stop_bits = 2 if cflag & termios.CSTOPB else 1
        self.rtscts = bool(cflag & CRTSCTS) if CRTSCTS else False
        self.xonxoff = bool(iflag & (termios.IXON | termios.IXOFF))
        self.canonical = bool(lflag & termios.ICANON)
        self.echo = bool(lflag & termios.ECHO)

    def key(self):
        return (self.ispeed, self.ospeed, self.data_bits, self.parity, self.stop_bits,
                self.rtscts, self.xonxoff, self.canonical, self.echo)

    def __str__(self):
        speed = ("%s baud" % self.ospeed if self.ispeed == self.ospeed
                 else "%s baud out, %s baud in" % (self.ospeed, self.ispeed))
        parts = [speed, "%s data bits" % self.data_bits,
                 "%s parity" % self.parity,
                 "%d stop bit%s" % (self.stop_bits, "s" if self.stop_bits > 1 else "")]
        flow = [name for name, on in (("RTS/CTS", self.rtscts), ("XON/XOFF", self.xonxoff)) if on]
        parts.append("flow control " + ("+".join(flow) if flow else "none"))
        parts.append("canonical" if self.canonical else "raw")
        if self.echo:
            parts.append("echo")
        return ", ".join(parts)


def prepare_line(fd, baud, hold=False):
    tty.setraw(fd)
    attrs = termios.tcgetattr(fd)
    attrs[2] = (attrs[2] & ~(termios.CSIZE | termios.PARENB | termios.CSTOPB | CRTSCTS)) \
        | termios.CS8 | termios.CREAD | termios.CLOCAL
    attrs[0] &= ~(termios.IXON | termios.IXOFF)
    if hold:
        attrs[0] |= termios.IXON  # an XOFF from the far end stops the output
    attrs[4] = attrs[5] = speed_constant(baud)
    termios.tcsetattr(fd, termios.TCSANOW, attrs)


def show_bytes(data):
    text = "".join(chr(b) if 32 <= b < 127 and b != 0x5C else
                   {0x0D: "\\r", 0x0A: "\\n", 0x09: "\\t", 0x5C: "\\\\"}.get(b, "\\x%02x" % b)
                   for b in data)
    return '"%s"' % text


def spawn(command, env):
    try:
        if sys.version_info >= (3, 11):
            return subprocess.Popen(command, stdin=subprocess.DEVNULL, env=env, process_group=0)
        return subprocess.Popen(command, stdin=subprocess.DEVNULL, env=env, preexec_fn=os.setpgrp)
    except OSError as e:
        print("ptymon: cannot start %s: %s" % (command[0], e.strerror), file=sys.stderr)
        return None


def stop(child):
    for sig, wait in ((signal.SIGTERM, 5), (signal.SIGKILL, 5)):
        try:
            os.killpg(child.pid, sig)
        except ProcessLookupError:
            return
        try:
            child.wait(wait)
            return
        except subprocess.TimeoutExpired:
            pass


def monitor(args):
    master, slave = os.openpty()
    path = os.ttyname(slave)
    prepare_line(slave, args.baud, hold=args.hold > 0)
    command = [a.replace("{pty}", path) for a in args.command]
    env = dict(os.environ, XB_PTY=path)

    label = args.label or command[0]
    print("--- %s: line %s, %s" % (label, path, LineState(termios.tcgetattr(slave))))
    print("--- %s: running %s" % (label, " ".join(command)), flush=True)

    held = args.hold > 0
    if held:
        os.write(master, b"\x13")
        print("--- %s: line held with XOFF until its settings change (at most %.0f s)"
              % (label, args.hold), flush=True)
    start = time.monotonic()
    child = spawn(command, env)
    if child is None:
        return 127
    received = bytearray()
    seen = [(0.0, LineState(termios.tcgetattr(slave)))]
    timed_out = False

    def release():
        nonlocal held
        if held:
            held = False
            os.write(master, b"\x11")
            seen.append((time.monotonic() - start, "XON sent: the line goes on"))

    def sample():
        state = LineState(termios.tcgetattr(slave))
        last = [s for _, s in seen if isinstance(s, LineState)][-1]
        if state.key() != last.key():
            seen.append((time.monotonic() - start, state))
            release()
        elif held and time.monotonic() - start > args.hold:
            release()

    def read_some(wait):
        ready, _, _ = select.select([master], [], [], wait)
        if ready:
            try:
                chunk = os.read(master, 4096)
            except OSError:
                return False
            received.extend(chunk)
            sample()
            return bool(chunk)
        return False

    while child.poll() is None:
        read_some(args.interval)
        sample()
        if time.monotonic() - start > args.timeout:
            timed_out = True
            stop(child)
            break
    release()
    # What the program wrote last may still be in the terminal's buffer.
    deadline = time.monotonic() + args.settle
    while time.monotonic() < deadline:
        if not read_some(0.05):
            break
    sample()
    after = LineState(termios.tcgetattr(slave))
    os.close(master)
    os.close(slave)

    code = child.returncode
    print("--- %s: arrived on the line: %d byte%s" % (label, len(received),
                                                    "" if len(received) == 1 else "s"))
    if received:
        print("    text: %s" % show_bytes(received))
        print("    hex:  %s" % " ".join("%02X" % b for b in received))
    print("--- %s: line settings while the program ran:" % label)
    for when, state in seen:
        print("    %+8.3f s  %s%s" % (when, state, "  (before the program)" if when == 0.0 else ""))
    if len([s for _, s in seen if isinstance(s, LineState)]) == 1:
        print("    (no change seen; a change undone within %.1f ms can be missed)"
              % (args.interval * 1000))
    print("--- %s: line settings after the program ended: %s" % (label, after))
    if timed_out:
        print("--- %s: stopped after %.0f s (timeout); exit code %s" % (label, args.timeout, code))
        return 124
    if code is not None and code < 0:
        print("--- %s: ended by signal %d" % (label, -code))
        return 128 - code
    print("--- %s: exit code %d" % (label, code))
    return code


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--baud", type=int, default=9600, help="speed set before the program starts")
    parser.add_argument("--timeout", type=float, default=120.0, help="seconds before the program is stopped")
    parser.add_argument("--interval", type=float, default=0.001, help="poll interval in seconds")
    parser.add_argument("--settle", type=float, default=0.5,
                        help="seconds to keep reading after the program ended")
    parser.add_argument("--label", default="", help="name used in the report")
    parser.add_argument("--hold", type=float, default=0.0,
                        help="hold the line with XOFF until the settings change, at most SECONDS")
    parser.add_argument("command", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if args.command and args.command[0] == "--":
        args.command = args.command[1:]
    if not args.command:
        parser.error("no command given")
    speed_constant(args.baud)
    sys.exit(monitor(args))


if __name__ == "__main__":
    main()
