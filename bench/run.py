#!/usr/bin/python3
"""Benchmarks mic-transcriber against pocketsphinx_continuous on the same synthesized speech.

Runs the real binary through the virtual microphone (starting one unless PULSE_SERVER is set),
plays flite sentences into it once it says "listening locally", and prints one table of medians
with PASS/MISS against the targets. Exits 0 whatever the figures, 1 when it could not measure.

    /usr/bin/python3 bench/run.py [--quick] [--runs N] [--binary PATH]

Debian's /usr/bin/python3 is meant: it has the packages the end-to-end helpers it reuses need.
"""
import argparse
import array
import importlib.util
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import wave

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def _end_to_end_harness():
    """The end-to-end suite's shared module (runs, speech, stream check, WER), from its file."""
    path = os.path.join(ROOT, "tests", "e2e", "harness.py")
    spec = importlib.util.spec_from_file_location("harness", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


_harness = _end_to_end_harness()
Run, check_stream, env_with, play, synthesize, word_error_rate = (
    _harness.Run, _harness.check_stream, _harness.env_with, _harness.play, _harness.synthesize,
    _harness.word_error_rate)

RATE = 16000
# Samples above this magnitude (at flite's own level; scaled with the level played) count as
# speech: flite's pauses are digital silence, and the keep-alive stream feeding the sink is zeros.
SPEECH_THRESHOLD = 300


def speech_threshold(decibels):
    return SPEECH_THRESHOLD * 10 ** (decibels / 20)

MEDIUM = ("the weather tomorrow will be cloudy in the morning with light rain expected by the "
          "afternoon and a cool wind from the north")
# (name, text, level in dB relative to flite's own): the quiet one is a microphone far below the
# level the model's default cepstral mean fits, where the cold start of recognition shows.
UTTERANCES = [
    ("short", "please turn on the kitchen lights", 0),
    ("medium", MEDIUM, 0),
    ("long", "when the sunlight strikes raindrops in the air they act as a prism and form a "
     "rainbow. the rainbow is a division of white light into many beautiful colors. these take "
     "the shape of a long round arch with its path high above and its two ends apparently "
     "beyond the horizon. there is according to legend a boiling pot of gold at one end. people "
     "look but no one ever finds it. when a man looks for something beyond his reach his "
     "friends say he is looking for the pot of gold at the end of the rainbow. it is an old story "
     "but people still tell it to their children", 0),
    ("quiet", MEDIUM, -30),
]

# Long speech (not in --quick): a fluent speaker whose only pauses are breaths, which the pause
# that ends a run must not be mistaken for, on a machine busy with CPU-bound jobs (four phrases,
# 43 s) and in a noisy room (all five, 54 s). Phrases of about 10 s without punctuation, which
# flite speaks without a pause of its own.
FLUENT = [
    "the old harbour town wakes up slowly on winter mornings when the fishing boats come back "
    "with their nets full and the market opens before the sun has cleared the hills behind the "
    "church and the bakery on the corner",
    "people who visit for the first time are often surprised by how quiet the streets are in the "
    "afternoon because most of the shops close for lunch and the owners sit outside talking with "
    "their neighbours about the weather",
    "in the evening the square fills again with families and students and the small restaurants "
    "put their tables out under the trees so that everyone can eat together while the children "
    "play football near the fountain",
    "the museum near the station keeps a collection of maps and letters from the sailors who left "
    "the town two hundred years ago to look for work in distant countries and never came home "
    "again to see their families",
    "every summer the town holds a music festival that brings bands from all over the country and "
    "for one long weekend the hotels are full and the trains from the city run late into the "
    "night",
]
BREATH_S = 0.42
BUSY_JOBS = 2
TARGET_LONG_RSS_MIB = 130

TARGET_LISTENING_MS = 150
TARGET_FINAL_S = 1.7
TARGET_CPU_RATIO = 0.7
TARGET_RSS_MIB = 120
TARGET_RTF = 0.25


def fail(message):
    print(f"bench: {message}", file=sys.stderr)
    sys.exit(1)


def cpu_seconds_of(pid):
    """User plus system CPU of a live process so far, from /proc (clock-tick resolution)."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def reap(proc):
    """Waits for `proc` with wait4: its exit status and the whole process's resource usage."""
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    return proc.returncode, usage.ru_utime + usage.ru_stime, usage.ru_maxrss / 1024.0


class MicMonitor:
    """Records what the virtual microphone delivers, to time speech where the program hears it.

    The source is paced in real time, so sample k arrived at offset + k / RATE; each read gives an
    upper bound on the offset (the samples may have waited in our pipe), and the smallest bound
    over the recording is the estimate. This measures paplay's start-up latency instead of
    assuming it.
    """

    def __init__(self, server):
        env = dict(os.environ, PULSE_SERVER=server)
        self.proc = subprocess.Popen(
            ["parec", "-d", "vmic", "--raw", "--format=s16le", f"--rate={RATE}", "--channels=1",
             "--latency-msec=10"], env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        self.data = bytearray()
        self.offset = float("inf")
        self._lock = threading.Lock()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()

    def _read(self):
        fd = self.proc.stdout.fileno()
        while True:
            chunk = os.read(fd, 4096)
            now = time.monotonic()
            if not chunk:
                return
            with self._lock:
                self.data += chunk
                self.offset = min(self.offset, now - (len(self.data) // 2) / RATE)

    def wait_until_delivering(self, timeout=5):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            with self._lock:
                if len(self.data) >= RATE // 5:
                    return True
            time.sleep(0.02)
        return False

    def speech_span(self, since, threshold):
        """Monotonic times of the first and last speech sample heard after `since`, or None."""
        with self._lock:
            begin = max(0, int((since - self.offset) * RATE))
            samples = array.array("h", bytes(self.data[2 * begin : len(self.data) // 2 * 2]))
            offset = self.offset + begin / RATE
        loud = [i for i, s in enumerate(samples) if abs(s) > threshold]
        if not loud:
            return None
        return offset + loud[0] / RATE, offset + (loud[-1] + 1) / RATE

    def stop(self):
        self.proc.terminate()
        self.proc.wait(5)
        self._reader.join(5)


def wav_seconds(path):
    return float(subprocess.run(["soxi", "-D", path], check=True, capture_output=True,
                                text=True).stdout)


def wav_onset_seconds(path, threshold):
    """Where speech starts inside the file itself (flite leaves a little silence first)."""
    with wave.open(path) as w:
        samples = array.array("h", w.readframes(w.getnframes()))
        rate = w.getframerate()
    first = next((i for i, s in enumerate(samples) if abs(s) > threshold), 0)
    return first / rate


def at_level(wav, decibels):
    """`wav`, or a copy of it `decibels` louder."""
    if decibels == 0:
        return wav
    out = wav[: -len(".wav")] + f"{decibels:+d}dB.wav"
    # No dither: the silence must stay digital zeros for timing speech.
    subprocess.run(["sox", "-D", wav, out, "vol", f"{decibels}dB"], check=True,
                   stdin=subprocess.DEVNULL)
    return out


def played_run(binary, server, wav, seconds, listen_timeout, grace):
    """Starts the program, waits for "listening locally", plays `wav` (`seconds` long) and reaps
    the program, killed `grace` seconds after the speech if it has not ended: (the run, when the
    playing began, status, CPU seconds at "listening locally" and in all, peak RSS, the checked
    events), or None and what went wrong."""
    run = Run(binary, env=env_with(server))
    try:
        run.wait_for_text("listening locally", timeout=listen_timeout)
    except AssertionError as e:
        run.proc.kill()
        run.finish(10)
        return None, f"no 'listening locally': {e}"
    cpu_at_listening = cpu_seconds_of(run.proc.pid)
    played_at = time.monotonic()
    player = play(server, wav)
    # Only wait4 may reap the program (poll() would lose its resource usage), so a timer ends a
    # run that never finishes.
    watchdog = threading.Timer(seconds + grace, run.proc.kill)
    watchdog.start()
    status, cpu, rss = reap(run.proc)
    watchdog.cancel()
    run.finish(10)
    player.wait(seconds + 10)
    try:
        events = check_stream(run)
    except AssertionError as e:
        return None, f"bad output: {e}"
    return (run, played_at, status, cpu_at_listening, cpu, rss, events), None


def run_program(binary, server, wav, monitor, speech_seconds, threshold):
    """One run: start, wait for "listening locally", play, wait for the terminal line."""
    played, error = played_run(binary, server, wav, speech_seconds, 15, 30)
    if played is None:
        return None, error
    run, played_at, status, cpu_at_listening, cpu, rss, events = played
    if status != 0 or events[-1]["kind"] != "final":
        return None, f"status {status}, last line {events[-1]}"
    span = monitor.speech_span(played_at, threshold)
    if span is None:
        return None, "the microphone never carried the speech"
    speech_start, speech_end = (t - run.started for t in span)
    partials = [t for t, raw in run.lines if json.loads(raw)["kind"] == "partial"]
    listening = run.time_of("listening locally")
    finishing = run.time_of("finishing transcript")
    final_at = run.lines[-1][0]
    return {
        "listening_ms": listening * 1000,
        "paplay_ms": (span[0] - played_at - wav_onset_seconds(wav, threshold)) * 1000,
        "first_partial_s": min(partials) - speech_start if partials else float("nan"),
        "final_s": final_at - speech_end,
        # Where the wait after speech goes: the decoder settling on its last words, the pause,
        # then the decoder's end of segment.
        "last_change_s": (max((t for t in partials if t < finishing), default=float("nan"))
                          - speech_end),
        "finishing_s": finishing - speech_end,
        "cpu_s": cpu,
        "startup_cpu_s": cpu_at_listening,
        "rss_mib": rss,
        "captured_s": finishing - listening,
        "text": events[-1]["text"],
    }, None


def run_idle(binary, server):
    """A run that hears nothing (standard input at end of file stops it at once): what loading
    the model and starting up cost without any recognition. Its CPU seconds, or None."""
    run = Run(binary, env=env_with(server), stdin=subprocess.DEVNULL)
    watchdog = threading.Timer(30, run.proc.kill)
    watchdog.start()
    status, cpu, _ = reap(run.proc)
    watchdog.cancel()
    run.finish(10)
    return cpu if status == 2 else None


def run_baseline(model_dir, wav):
    """pocketsphinx_continuous on the same file: one hypothesis line per segment it found."""
    proc = subprocess.Popen(
        ["pocketsphinx_continuous", "-infile", wav,
         "-hmm", os.path.join(model_dir, "en-us", "en-us"),
         "-lm", os.path.join(model_dir, "en-us", "en-us.lm.bin"),
         "-dict", os.path.join(model_dir, "en-us", "cmudict-en-us.dict"),
         "-logfn", "/dev/null"],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    out = proc.stdout.read().decode(errors="replace")
    proc.stdout.close()
    status, cpu, rss = reap(proc)
    if status != 0:
        return None, f"pocketsphinx_continuous exited with {status}"
    text = " ".join(line.strip() for line in out.splitlines() if line.strip())
    return {"cpu_s": cpu, "rss_mib": rss, "text": text}, None


def median(runs, key):
    values = [r[key] for r in runs if r[key] == r[key]]  # NaN (no partial) left out
    return statistics.median(values) if values else float("nan")


class StartedMic:
    """The virtual microphone: the caller's (PULSE_SERVER) or one of our own for the run, on
    `server` ("pulseaudio" or "pipewire")."""

    def __init__(self, server="pulseaudio"):
        self.server = server

    def __enter__(self):
        self.work = None
        if os.environ.get("PULSE_SERVER"):
            return os.environ["PULSE_SERVER"]
        if shutil.which(self.server) is None:
            fail(f"{self.server} is not installed and PULSE_SERVER is not set")
        self.work = tempfile.mkdtemp(prefix="mic-bench-vmic-")
        started = subprocess.run(
            ["bash", os.path.join(ROOT, "tests", "e2e", "virtual_mic.sh"), "start", self.work,
             self.server], capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=60)
        if started.returncode != 0:
            self.__exit__()
            fail(f"the virtual microphone did not start: {started.stderr.strip()}")
        return started.stdout.strip().splitlines()[-1].split("=", 1)[1]

    def __exit__(self, *_):
        if self.work:
            subprocess.run(
                ["bash", os.path.join(ROOT, "tests", "e2e", "virtual_mic.sh"), "stop", self.work],
                stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
            shutil.rmtree(self.work, ignore_errors=True)


def default_binary():
    for build in ("build-bench", "build"):
        path = os.path.join(ROOT, build, "mic-transcriber")
        if os.access(path, os.X_OK):
            return path
    return os.path.join(ROOT, "build", "mic-transcriber")


def model_dir():
    found = subprocess.run(["pkg-config", "--variable=modeldir", "pocketsphinx"],
                           capture_output=True, text=True).stdout.strip()
    return found or "/usr/share/pocketsphinx/model"


def fmt(value, digits):
    return "n/a" if value != value else f"{value:.{digits}f}"


def trimmed_speech(directory, name, text, voice="slt"):
    """flite's speech of `text`, 16 kHz mono, without the silence it leaves around it."""
    raw, out = os.path.join(directory, name + "-raw.wav"), os.path.join(directory, name + ".wav")
    subprocess.run(["flite", "-voice", voice, "-t", text, "-o", raw], check=True,
                   stdin=subprocess.DEVNULL)
    subprocess.run(["sox", raw, "-r", str(RATE), "-c", "1", "-b", "16", out,
                    "silence", "1", "0.01", "0.1%", "reverse", "silence", "1", "0.01", "0.1%",
                    "reverse"], check=True, stdin=subprocess.DEVNULL)
    return out


def fluent_speech(directory, name, texts, voice="slt"):
    """The phrases spoken one after another with a breath between them: the file and its words."""
    breath = os.path.join(directory, "breath.wav")
    subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "1", "-b", "16", breath, "trim", "0",
                    str(BREATH_S)], check=True, stdin=subprocess.DEVNULL)
    parts = []
    for i, text in enumerate(texts):
        if parts:
            parts.append(breath)
        parts.append(trimmed_speech(directory, f"{name}-{voice}-{i}", text, voice))
    out = os.path.join(directory, f"{name}-{voice}.wav")
    subprocess.run(["sox", *parts, out], check=True, stdin=subprocess.DEVNULL)
    return out, " ".join(texts)


def rms_of(path):
    with wave.open(path) as w:
        samples = array.array("h", w.readframes(w.getnframes()))
    return (sum(x * x for x in samples) / max(1, len(samples))) ** 0.5


def noisy_room(directory, name, speech, talker):
    """`speech` with another talker 10 dB under it and brown noise 15 dB under it, both lasting
    exactly as long as the speech (so the speech's end is where the sound ends), 6 dB down overall
    so that the mix does not clip."""
    seconds = wav_seconds(speech)
    noise = os.path.join(directory, name + "-noise.wav")
    subprocess.run(["sox", "-n", "-r", str(RATE), "-c", "1", "-b", "16", noise, "synth",
                    str(seconds), "brownnoise"], check=True, stdin=subprocess.DEVNULL)
    other = os.path.join(directory, name + "-talker.wav")
    subprocess.run(["sox", talker, other, "trim", "0", str(seconds)], check=True,
                   stdin=subprocess.DEVNULL)
    level = rms_of(speech)
    out = os.path.join(directory, name + ".wav")
    subprocess.run(["sox", "-m", "-v", "0.5", speech,
                    "-v", str(0.5 * level * 10 ** (-10 / 20) / rms_of(other)), other,
                    "-v", str(0.5 * level * 10 ** (-15 / 20) / rms_of(noise)), noise,
                    "-b", "16", out], check=True, stdin=subprocess.DEVNULL)
    return out


class BusyMachine:
    """CPU-bound jobs (a build, a video call) on every core the program would use."""

    def __init__(self, jobs):
        self.jobs = jobs

    def __enter__(self):
        self.procs = [subprocess.Popen([sys.executable, "-c", "while True: pass"],
                                       stdin=subprocess.DEVNULL) for _ in range(self.jobs)]

    def __exit__(self, *_):
        for proc in self.procs:
            proc.kill()
            proc.wait()


def run_long(binary, server, wav, monitor, text):
    """One run on long speech: whether listening stopped while the speaker still talked, the
    words of the "final" against those spoken, and the peak RSS."""
    played, error = played_run(binary, server, wav, wav_seconds(wav), 30, 60)
    if played is None:
        return None, error
    run, played_at, status, _, _, rss, events = played
    span = monitor.speech_span(played_at, speech_threshold(-6))
    if span is None:
        return None, "the microphone never carried the speech"
    finishing = run.time_of("finishing transcript")
    final = events[-1]["text"] if events[-1]["kind"] == "final" else ""
    return {
        "stopped_early": finishing is None or finishing + run.started < span[1],
        "said": len(_harness.words(text)),
        "heard": len(_harness.words(final)),
        "wer": word_error_rate(text, final),
        "rss_mib": rss,
        "status": status,
    }, None


def replayed(binary, mode, wav, figure):
    """`figure` ("longest behind", "longest segment end") as mic_replay (beside the binary's
    build) prints it replaying `wav` in `mode`; NaN without mic_replay."""
    replay = os.path.join(os.path.dirname(binary), "bench", "mic_replay")
    if not os.access(replay, os.X_OK):
        return float("nan")
    out = subprocess.run([replay, mode, wav], capture_output=True, text=True,
                         stdin=subprocess.DEVNULL).stdout
    for line in out.splitlines():
        if line.startswith(figure + ": "):
            return float(line[len(figure) + 2:].split()[0])
    return float("nan")


def long_speech(binary, runs):
    """The busy-machine case (fluent speech under CPU-bound jobs, `runs` runs) and one noisy run,
    on each sound server there is: (column name, figures) pairs."""
    servers = ["pulseaudio", "pipewire"]
    if os.environ.get("PULSE_SERVER"):
        servers = ["PULSE_SERVER"]
    directory = tempfile.mkdtemp(prefix="mic-bench-long-")
    columns = []
    try:
        busy, busy_text = fluent_speech(directory, "busy", FLUENT[:4])
        busy = at_level(busy, -6)  # the level the noisy mix has, so one speech threshold serves
        talk, noisy_text = fluent_speech(directory, "noisy", FLUENT)
        talker, _ = fluent_speech(directory, "talker", FLUENT[::-1], voice="rms")
        noisy = noisy_room(directory, "room", talk, talker)
        for server in servers:
            if server != "PULSE_SERVER" and shutil.which(server) is None:
                print(f"bench: {server} is not installed: no long runs on it", file=sys.stderr)
                continue
            with StartedMic(server if server != "PULSE_SERVER" else "pulseaudio") as address:
                monitor = MicMonitor(address)
                try:
                    if not monitor.wait_until_delivering():
                        fail(f"the virtual microphone on {server} delivers no audio")
                    for case, wav, text, count, jobs in (("busy", busy, busy_text, runs, BUSY_JOBS),
                                                         ("noisy", noisy, noisy_text, 1, 0)):
                        figures = []
                        with BusyMachine(jobs):
                            for i in range(count):
                                done, problem = run_long(binary, address, wav, monitor, text)
                                if problem:
                                    print(f"bench: {case} run {i + 1} on {server}: {problem}",
                                          file=sys.stderr)
                                else:
                                    figures.append(done)
                                time.sleep(0.3)
                            # Under the same load: the decoder's own cost, then how far behind
                            # the microphone it fell, segment ends and catching up included.
                            ends = replayed(binary, "--segment-ends", wav, "longest segment end")
                            lag = replayed(binary, "--paced", wav, "longest behind")
                        if figures:
                            columns.append((f"{case}/{server}"[:21], wav_seconds(wav), figures,
                                            ends, lag))
                finally:
                    monitor.stop()
    finally:
        shutil.rmtree(directory, ignore_errors=True)
    return columns


def print_long(columns):
    print()
    print(f"long speech: fluent, with a {BREATH_S} s breath about every 10 s; busy = "
          f"{BUSY_JOBS} CPU-bound jobs running; noisy = another talker 10 dB and brown noise "
          "15 dB under the speech")
    width = 44
    print("".ljust(width) + "".join(name.rjust(27) for name, *_ in columns))
    rows = [
        ("speech s (wav)", lambda c: fmt(c[1], 1)),
        ("runs stopped while the speaker talked",
         lambda c: f"{sum(f['stopped_early'] for f in c[2])}/{len(c[2])}"),
        ("words in \"final\" / spoken, each run",
         lambda c: " ".join(f"{f['heard']}" for f in c[2]) + f" /{c[2][0]['said']}"),
        ("WER %, median", lambda c: fmt(100 * statistics.median(f["wer"] for f in c[2]), 1)),
        ("longest segment end s (replay)", lambda c: fmt(c[3], 2)),
        ("longest lag behind the mic s (replay)", lambda c: fmt(c[4], 2)),
        ("peak RSS MiB (highest)", lambda c: fmt(max(f["rss_mib"] for f in c[2]), 1)),
    ]
    for label, cell in rows:
        print(label.ljust(width) + "".join(cell(c).rjust(27) for c in columns))
    print()
    early = sum(f["stopped_early"] for c in columns for f in c[2])
    print(f"{'PASS' if early == 0 else 'MISS'}  no run stopped while the speaker talked: "
          f"{early} did")
    rss = max((f["rss_mib"] for c in columns for f in c[2]), default=float("nan"))
    print(f"{'PASS' if rss <= TARGET_LONG_RSS_MIB else 'MISS'}  peak RSS on long speech at most "
          f"{TARGET_LONG_RSS_MIB} MiB: {fmt(rss, 1)} MiB")


def print_report(names, rows, verdicts, runs, binary, load):
    print(f"mic-transcriber benchmark: medians of {runs} run(s) per utterance; {binary}")
    print("load average at start and end: " + ", ".join(f"{a:.1f}" for a in load)
          + f" on {os.cpu_count()} CPUs (timings stretch on a busy machine)")
    print("baseline: pocketsphinx_continuous -infile (same model, same audio)")
    width = max(len(label) for label, _ in rows) + 2
    print("".ljust(width) + "".join(n.rjust(10) for n in names))
    for label, cells in rows:
        print(label.ljust(width) + "".join(c.rjust(10) for c in cells))
    print()
    print("real-time factor = (process CPU - CPU of a run hearing nothing, i.e. start-up and model"
          " load) / seconds of audio captured (\"listening locally\" to \"finishing transcript\")")
    print("speech start/end: first/last speech sample as the virtual microphone delivered it"
          " (paplay's own start-up latency is measured, not assumed)")
    print()
    for ok, text in verdicts:
        print(f"{'PASS' if ok else 'MISS'}  {text}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true",
                        help="one short sentence, one run, no long speech")
    parser.add_argument("--runs", type=int, default=5, help="runs per utterance (default 5)")
    parser.add_argument("--binary", default=default_binary(), help="the mic-transcriber to measure")
    parser.add_argument("--long-only", action="store_true",
                        help="only the long speech: the busy machine and the noisy room")
    args = parser.parse_args()
    utterances = UTTERANCES[:1] if args.quick else UTTERANCES
    runs = 1 if args.quick else max(1, args.runs)

    binary = os.path.abspath(args.binary)
    if not os.access(binary, os.X_OK):
        fail(f"no program at {binary} (build it, or pass --binary)")
    for tool in ("flite", "sox", "soxi", "paplay", "parec", "pocketsphinx_continuous"):
        if shutil.which(tool) is None:
            fail(f"{tool} is not installed (scripts/install-deps.sh --test installs it)")
    if args.long_only:
        load_at_start = os.getloadavg()[0]
        columns = long_speech(binary, runs)
        if not columns:
            fail("no complete run on long speech")
        print(f"mic-transcriber benchmark, long speech; {binary}")
        print(f"load average at start and end: {load_at_start:.1f}, {os.getloadavg()[0]:.1f} on "
              f"{os.cpu_count()} CPUs (the busy case adds {BUSY_JOBS} jobs of its own)")
        print_long(columns)
        return 0
    models = model_dir()
    load_at_start = os.getloadavg()[0]
    speech = tempfile.mkdtemp(prefix="mic-bench-speech-")
    results = {}
    try:
        with StartedMic() as server:
            monitor = MicMonitor(server)
            try:
                if not monitor.wait_until_delivering():
                    fail("the virtual microphone delivers no audio")
                idle = [c for c in (run_idle(binary, server) for _ in range(runs)) if c is not None]
                if not idle:
                    fail("the program did not end with 'no speech' when hearing nothing")
                idle_cpu = statistics.median(idle)
                for name, text, decibels in utterances:
                    wav = at_level(synthesize(speech, name, text), decibels)
                    seconds = wav_seconds(wav)
                    ours, theirs = [], []
                    for i in range(runs):
                        figures, problem = run_program(binary, server, wav, monitor, seconds,
                                                        speech_threshold(decibels))
                        if problem:
                            print(f"bench: {name} run {i + 1}: {problem}", file=sys.stderr)
                        else:
                            figures["wer"] = word_error_rate(text, figures["text"])
                            figures["rtf"] = (figures["cpu_s"] - idle_cpu) / figures["captured_s"]
                            ours.append(figures)
                        base, problem = run_baseline(models, wav)
                        if problem:
                            print(f"bench: {name} baseline {i + 1}: {problem}", file=sys.stderr)
                        else:
                            base["wer"] = word_error_rate(text, base["text"])
                            theirs.append(base)
                        time.sleep(0.3)  # let the microphone fall quiet between runs
                    if not ours or not theirs:
                        fail(f"no complete run for the {name} utterance")
                    results[name] = (seconds, ours, theirs)
                    print(f"bench: {name}: ours {ours[-1]['text']!r}; "
                          f"baseline {theirs[-1]['text']!r}", file=sys.stderr)
            finally:
                monitor.stop()
    finally:
        shutil.rmtree(speech, ignore_errors=True)

    names = [n for n, _, _ in utterances]
    m = {n: {k: median(results[n][1], k) for k in results[n][1][0] if k != "text"}
         for n in names}
    b = {n: {k: median(results[n][2], k) for k in ("cpu_s", "rss_mib", "wer")} for n in names}
    secs = {n: results[n][0] for n in names}

    def row(label, fn, digits):
        return label, [fmt(fn(n), digits) for n in names]

    rows = [
        row("speech s (wav)", lambda n: secs[n], 2),
        row("start -> \"listening locally\" ms", lambda n: m[n]["listening_ms"], 0),
        row("paplay latency to the mic ms", lambda n: m[n]["paplay_ms"], 0),
        row("speech start -> first partial s", lambda n: m[n]["first_partial_s"], 2),
        row("speech end -> last change s", lambda n: m[n]["last_change_s"], 2),
        row("speech end -> \"finishing\" s", lambda n: m[n]["finishing_s"], 2),
        row("speech end -> \"final\" s", lambda n: m[n]["final_s"], 2),
        row("CPU s, ours (user+sys)", lambda n: m[n]["cpu_s"], 2),
        row("  of which before listening", lambda n: m[n]["startup_cpu_s"], 2),
        row("  run hearing nothing", lambda n: idle_cpu, 2),
        row("CPU s, baseline", lambda n: b[n]["cpu_s"], 2),
        row("CPU ours / baseline", lambda n: m[n]["cpu_s"] / b[n]["cpu_s"], 2),
        row("peak RSS MiB, ours", lambda n: m[n]["rss_mib"], 1),
        row("peak RSS MiB, baseline", lambda n: b[n]["rss_mib"], 1),
        row("RSS ours / baseline", lambda n: m[n]["rss_mib"] / b[n]["rss_mib"], 2),
        row("real-time factor", lambda n: m[n]["rtf"], 3),
        row("WER %, ours", lambda n: 100 * m[n]["wer"], 1),
        row("WER %, baseline", lambda n: 100 * b[n]["wer"], 1),
        row("WER ours / baseline", lambda n: m[n]["wer"] / b[n]["wer"] if b[n]["wer"]
            else (1.0 if m[n]["wer"] == 0 else float("inf")), 2),
    ]

    def each(fn, digits, unit=""):
        return ", ".join(f"{n} {fmt(fn(n), digits)}{unit}" for n in names)

    verdicts = [
        (all(m[n]["listening_ms"] <= TARGET_LISTENING_MS for n in names),
         f"\"listening locally\" within {TARGET_LISTENING_MS} ms of start: "
         + each(lambda n: m[n]["listening_ms"], 0, " ms")),
        (all(m[n]["final_s"] <= TARGET_FINAL_S for n in names),
         f"\"final\" within {TARGET_FINAL_S} s of the end of speech: "
         + each(lambda n: m[n]["final_s"], 2, " s")),
        (all(m[n]["cpu_s"] <= TARGET_CPU_RATIO * b[n]["cpu_s"] for n in names),
         f"CPU at most {TARGET_CPU_RATIO:.1f}x the baseline's: "
         + each(lambda n: m[n]["cpu_s"] / b[n]["cpu_s"], 2, "x")),
        (all(m[n]["rss_mib"] <= TARGET_RSS_MIB for n in names),
         f"peak RSS at most {TARGET_RSS_MIB} MiB: " + each(lambda n: m[n]["rss_mib"], 1, " MiB")),
        (all(m[n]["rtf"] <= TARGET_RTF for n in names),
         f"real-time factor at most {TARGET_RTF}: " + each(lambda n: m[n]["rtf"], 3)),
        (all(m[n]["wer"] <= b[n]["wer"] for n in names),
         "WER no worse than the baseline's: "
         + each(lambda n: 100 * m[n]["wer"], 1, "%") + " vs "
         + each(lambda n: 100 * b[n]["wer"], 1, "%")),
    ]
    load_at_end = os.getloadavg()[0]
    columns = [] if args.quick else long_speech(binary, runs)
    print_report(names, rows, verdicts, runs, binary, (load_at_start, load_at_end))
    if columns:
        print_long(columns)
    return 0


if __name__ == "__main__":
    sys.exit(main())
