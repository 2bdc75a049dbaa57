#!/usr/bin/env python3
"""The decoder's search effort against its word errors: a sweep through mic_replay --set.

Every row replays all of accuracy.py's files with some of the decoder's search settings changed
and prints, per set (flite's level, 15 and 30 dB quieter, pauses inside speech, the long
sentence), the word errors, how many transcripts differ from the first row's, and the decoder's
CPU per second of audio: user + system time of each unpaced replay (rusage), less a replay of
almost nothing (start-up and model load), over the seconds of speech. CPU time on a shared
machine drifts, so the rows without overrides ("today") come back every few rows, and each
row's "x today" is against the latest of them.
  bench/search_sweep.py build-bench/bench/mic_replay                  # the grid below
  bench/search_sweep.py [--ends] build-bench/bench/mic_replay -topn=3 -maxwpf=10,-maxhmmpf=5000
Each argument after the binary is one row: comma-separated -name=value pairs ("" = today).
--ends adds the longest segment end of the noisy room (run.py's long speech) for every row.
"""
import argparse
import concurrent.futures
import os
import statistics
import subprocess
import sys
import tempfile
import time
import wave

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import accuracy  # noqa: E402
from accuracy import word_error_rate, words  # noqa: E402

# One setting at a time, each in the direction of less search from the decoder's own (the
# options in src/recognizer/pocketsphinx/pocketsphinx_handle.cpp; whatever they leave out
# keeps the library's default).
GRID = [
    "-pl_window=0", "-pl_window=8", "-pl_window=10",
    "-topn=3", "-topn=2",
    "-beam=1e-40", "-beam=1e-35", "-beam=1e-30",
    "-wbeam=1e-22", "-wbeam=1e-20",
    "-pbeam=1e-40", "-pbeam=1e-35",
    "-lpbeam=1e-30", "-lpbeam=1e-25",
    "-lponlybeam=1e-25", "-lponlybeam=1e-20",
    "-maxhmmpf=3500", "-maxhmmpf=3000", "-maxhmmpf=2000",
    "-maxwpf=20", "-maxwpf=10", "-maxwpf=5",
    "-ds=2",
]
BASELINE_EVERY = 4
SETS = ("full", "-15 dB", "-30 dB", "pauses", "long")


def set_of(label):
    if label.startswith("long"):
        return "long"
    if label.startswith("p"):
        return "pauses"
    return {"0": "full", "-15": "-15 dB", "-30": "-30 dB"}[label.split("@")[1]]


def seconds_of(path):
    with wave.open(path) as w:
        return w.getnframes() / w.getframerate()


def overrides(row):
    args = []
    for pair in filter(None, row.split(",")):
        name, value = pair.split("=", 1)
        args += ["--set", name, value]
    return args


def replay(binary, row, path, mode=None):
    """(stdout, CPU seconds of the replay)."""
    proc = subprocess.Popen([binary, *overrides(row), *([mode] if mode else []), path],
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                            stdin=subprocess.DEVNULL, text=True)
    out = proc.stdout.read()
    _, status, usage = os.wait4(proc.pid, 0)
    if status != 0:
        sys.exit(f"search_sweep: {binary} {row or '(today)'} {path} failed ({status})")
    return out, usage.ru_utime + usage.ru_stime


def measure(binary, row, jobs, silent, noisy, workers):
    loads = [replay(binary, row, silent)[1] for _ in range(3)]
    load = statistics.median(loads)

    def run(job):
        label, path, reference = job
        out, cpu = replay(binary, row, path)
        return label, reference, (out.splitlines() or [""])[0], cpu - load, seconds_of(path)

    with concurrent.futures.ThreadPoolExecutor(workers) as pool:
        results = list(pool.map(run, jobs))
    figures = {"errors": dict.fromkeys(SETS, 0), "texts": {}, "load": load}
    cpu = audio = 0.0
    for label, reference, heard, decoding, seconds in results:
        wrong = round(word_error_rate(reference, heard) * len(words(reference)))
        figures["errors"][set_of(label)] += wrong
        figures["texts"][label] = heard
        cpu, audio = cpu + decoding, audio + seconds
    figures["rtf"] = cpu / audio
    if noisy:
        out, _ = replay(binary, row, noisy, "--segment-ends")
        ends = [line for line in out.splitlines() if line.startswith("longest segment end: ")]
        figures["ends"] = float(ends[0].split()[-2]) if ends else float("nan")
    return figures


def noisy_room(directory):
    """run.py's noisy room: five fluent phrases over another talker and brown noise."""
    import run
    talk, _ = run.fluent_speech(directory, "noisy", run.FLUENT)
    talker, _ = run.fluent_speech(directory, "talker", run.FLUENT[::-1], voice="rms")
    return run.noisy_room(directory, "room", talk, talker)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("binary", help="path/to/mic_replay")
    parser.add_argument("rows", nargs=argparse.REMAINDER, help="rows of -name=value,... (default: the grid)")
    parser.add_argument("--ends", action="store_true",
                        help="also the noisy room's longest segment end (mic_replay --segment-ends)")
    parser.add_argument("--jobs", type=int, default=2, help="replays at a time (default 2)")
    parser.add_argument("--transcripts", action="store_true",
                        help="print each row's transcripts that differ from today's")
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    rows = args.rows or GRID
    with tempfile.TemporaryDirectory(prefix="mic-sweep-") as directory:
        jobs = accuracy.files(directory)
        silent = os.path.join(directory, "silent.wav")
        subprocess.run(["sox", "-n", "-r", "16000", "-c", "1", "-b", "16", silent, "trim", "0",
                        "0.05"], check=True)
        noisy = noisy_room(directory) if args.ends else None
        audio = sum(seconds_of(path) for _, path, _ in jobs)
        print(f"mic_replay, unpaced, {len(jobs)} files, {audio:.0f} s of audio; load average "
              f"{os.getloadavg()[0]:.1f} on {os.cpu_count()} CPUs")
        header = (f"{'settings':34}{'RTF':>7}{'x today':>8}" + "".join(f"{s:>8}" for s in SETS)
                  + f"{'all':>6}{'changed':>8}{'load s':>7}" + (f"{'end s':>7}" if noisy else ""))
        print(header, flush=True)
        today = latest = None  # the first baseline's transcripts; the latest one's CPU
        order = []
        for i, row in enumerate(rows):
            if i % BASELINE_EVERY == 0:
                order.append("")
            order.append(row)
        order.append("")
        for row in order:
            started = time.monotonic()
            figures = measure(binary, row, jobs, silent, noisy, args.jobs)
            if row == "":
                today = today or figures
                latest = figures
            reference = today
            changed = sum(figures["texts"][k] != reference["texts"][k] for k in figures["texts"])
            errors = figures["errors"]
            print(f"{row or 'today':34}{figures['rtf']:7.3f}{figures['rtf'] / latest['rtf']:8.2f}"
                  + "".join(f"{errors[s]:8d}" for s in SETS)
                  + f"{sum(errors.values()):6d}{changed:8d}{figures['load']:7.2f}"
                  + (f"{figures['ends']:7.2f}" if noisy else "")
                  + f"   ({time.monotonic() - started:.0f} s, load {os.getloadavg()[0]:.1f})",
                  flush=True)
            if args.transcripts and row:
                for label, text in figures["texts"].items():
                    if text != reference["texts"][label]:
                        print(f"    {label:16} {text}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
