#!/usr/bin/env python3
"""Runs mic-transcriber once with standard input closed and checks what a caller gets: event lines
only (the status texts the event schema lists), exactly one final or error line and it last, the
exit status that line calls for, nothing on standard error, and the run over, every process of it
gone, within a bounded time. The hosted Macs of CI run it: no one can answer a permission prompt
there, so the line is an error. Standard library only, so it runs on a bare Mac.

With --stop-after, a run still going by then gets SIGTERM, as `timeout` or a caller that gives up
sends it (a permission prompt no one answers holds the run before listening): the one terminal
line must still come, within the same bound.

Usage: tests/platform/apple/run_once.py [--timeout SECONDS] [--stop-after SECONDS] PROGRAM [ARGUMENT...]
Exits 0 when every check holds; otherwise 1, naming the first that failed.
"""
import argparse
import json
import os
import signal
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..", ".."))
SCHEMA = os.path.join(ROOT, "doc", "event-line.schema.json")
TERMINAL = ("final", "error")


def status_texts():
    with open(SCHEMA, encoding="utf-8") as f:
        schema = json.load(f)
    for rule in schema["allOf"]:
        if rule["if"]["properties"]["kind"]["const"] == "status":
            return set(rule["then"]["properties"]["text"]["enum"])
    raise SystemExit(f"{SCHEMA} lists no status texts")


def expected_status(event):
    if event["kind"] == "final":
        return 0
    return 2 if event["text"] == "no speech was detected" else 1


def problems(stdout, stderr, returncode):
    """What is wrong with one finished run; empty when nothing is."""
    if stderr:
        return [f"standard error is not empty: {stderr[:200]!r}"]
    if not stdout:
        return ["no output at all"]
    if not stdout.endswith(b"\n"):
        return ["the last line has no line feed"]
    statuses = status_texts()
    events = []
    for raw in stdout.split(b"\n")[:-1]:
        try:
            event = json.loads(raw)
        except ValueError:
            return [f"not a JSON line: {raw[:200]!r}"]
        if not isinstance(event, dict) or set(event) != {"kind", "text"} or not isinstance(
                event["text"], str):
            return [f"not an event line: {raw[:200]!r}"]
        if event["kind"] == "status" and event["text"] not in statuses:
            return [f"not a status the program writes: {event['text']!r}"]
        if event["kind"] not in ("status", "partial") + TERMINAL:
            return [f"no such kind: {event['kind']!r}"]
        events.append(event)
    terminal = [e for e in events if e["kind"] in TERMINAL]
    if len(terminal) != 1 or events[-1] is not terminal[0]:
        return [f"{len(terminal)} final or error lines, and the last line is "
                f"{events[-1]['kind']}: one, last, is what callers rely on"]
    if returncode != expected_status(terminal[0]):
        return [f"exit status {returncode} after {terminal[0]}"]
    return []


def gone(group, within):
    """Whether every process of the run's group has exited (a copy of the program too)."""
    deadline = time.monotonic() + within
    while True:
        try:
            os.killpg(group, 0)
        except ProcessLookupError:
            return True
        except PermissionError:
            pass  # a process of the group under another user still counts as left
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)


def close_stdin():
    try:
        os.close(0)
    except OSError:
        pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--timeout", type=float, default=60.0,
                        help="seconds the whole run may take (default 60)")
    parser.add_argument("--stop-after", type=float, default=None,
                        help="send the program SIGTERM if it is still running after this many seconds")
    parser.add_argument("program", nargs=argparse.REMAINDER)
    args = parser.parse_args()
    if not args.program:
        parser.error("no program to run")

    # A session of its own, so that on a timeout the whole run, the copy of the program too, is
    # killed and nothing is left holding the pipes.
    proc = subprocess.Popen(args.program, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                            start_new_session=True, preexec_fn=close_stdin)
    stopped = ""
    try:
        try:
            stdout, stderr = proc.communicate(timeout=args.stop_after or args.timeout)
        except subprocess.TimeoutExpired:
            if args.stop_after is None or args.stop_after >= args.timeout:
                raise
            # The process the caller started, not the group: on a Mac it passes the signal on.
            proc.send_signal(signal.SIGTERM)
            stopped = f" (sent SIGTERM after {args.stop_after:g} s)"
            stdout, stderr = proc.communicate(timeout=args.timeout - args.stop_after)
    except subprocess.TimeoutExpired:
        os.killpg(proc.pid, signal.SIGKILL)
        stdout, stderr = proc.communicate()
        print(f"FAIL: no end within {args.timeout:g} s{stopped}; it wrote {stdout[:400]!r}")
        return 1
    found = problems(stdout, stderr, proc.returncode)
    if not found and not gone(proc.pid, within=5.0):
        os.killpg(proc.pid, signal.SIGKILL)
        found = ["a process of the run was still there after its terminal line"]
    if found:
        print(f"FAIL: {found[0]}{stopped}")
        print(f"      output {stdout[:400]!r}, exit status {proc.returncode}")
        return 1
    last = stdout.rstrip(b"\n").split(b"\n")[-1].decode("utf-8", "replace")
    print(f"ok: one terminal line, exit status {proc.returncode}, nothing on stderr{stopped}: {last}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
