"""Shared pieces of the end-to-end suite: the binary, the virtual microphone, synthesized speech."""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

BINARY = os.environ.get("MIC_TRANSCRIBER", os.path.join(HERE, "..", "..", "build", "mic-transcriber"))
SINK = "vspk"
# Which sound server the virtual microphones run: "pulseaudio", or "pipewire" (with pipewire-pulse
# serving libpulse). scripts/test.sh runs the tests marked `core` a second time on PipeWire.
SOUND_SERVER = os.environ.get("MIC_SOUND_SERVER", "pulseaudio")


def need(tool):
    if shutil.which(tool) is None:
        pytest.skip(f"{tool} is not installed (scripts/install-deps.sh --test installs it)")


@pytest.fixture(scope="session")
def binary():
    if not os.access(BINARY, os.X_OK):
        pytest.skip(f"no built program at {BINARY} (set MIC_TRANSCRIBER)")
    return os.path.abspath(BINARY)


@pytest.fixture(scope="session")
def pulse_server():
    """The virtual microphone: the one scripts/test.sh started, or one of our own."""
    if os.environ.get("PULSE_SERVER"):
        yield os.environ["PULSE_SERVER"]
        return
    need("pulseaudio" if SOUND_SERVER == "pulseaudio" else "pipewire-pulse")
    work = tempfile.mkdtemp(prefix="mic-vmic-")
    script = os.path.join(HERE, "virtual_mic.sh")
    started = subprocess.run(["bash", script, "start", work], capture_output=True, text=True,
                             stdin=subprocess.DEVNULL, timeout=60)
    if started.returncode != 0:
        pytest.skip(f"the virtual microphone did not start: {started.stderr.strip()}")
    server = started.stdout.strip().splitlines()[-1].split("=", 1)[1]
    yield server
    subprocess.run(["bash", script, "stop", work], stdin=subprocess.DEVNULL, timeout=30)
    shutil.rmtree(work, ignore_errors=True)


@pytest.fixture(scope="session")
def speech_dir():
    need("flite")
    need("sox")
    work = tempfile.mkdtemp(prefix="mic-speech-")
    yield work
    shutil.rmtree(work, ignore_errors=True)


def synthesize(directory, name, text):
    """flite's slt voice at 16 kHz mono; espeak voices are unrecognizable to the model."""
    raw = os.path.join(directory, name + "-raw.wav")
    out = os.path.join(directory, name + ".wav")
    if not os.path.exists(out):
        subprocess.run(["flite", "-voice", "slt", "-t", text, "-o", raw], check=True,
                       stdin=subprocess.DEVNULL)
        subprocess.run(["sox", raw, "-r", "16000", "-c", "1", "-b", "16", out], check=True,
                       stdin=subprocess.DEVNULL)
    return out


class Run:
    """One run of the real binary, its stdin an open pipe we control, its stdout read line by line."""

    def __init__(self, binary, args=(), env=None, stdin=subprocess.PIPE):
        self.started = time.monotonic()
        self.proc = subprocess.Popen([binary, *args], stdin=stdin, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env)
        self.lines = []  # (seconds since start, raw line)
        self._cond = threading.Condition()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self._stderr = b""
        self._err_reader = threading.Thread(target=self._read_err, daemon=True)
        self._err_reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            with self._cond:
                self.lines.append((time.monotonic() - self.started, raw))
                self._cond.notify_all()
        with self._cond:
            self._cond.notify_all()

    def _read_err(self):
        self._stderr = self.proc.stderr.read()

    def wait_for_text(self, text, timeout=20):
        deadline = time.monotonic() + timeout
        with self._cond:
            while not any(json.loads(r).get("text") == text for _, r in self.lines):
                remaining = deadline - time.monotonic()
                if remaining <= 0 or self.proc.poll() is not None and not self._reader.is_alive():
                    raise AssertionError(f"no {text!r} line; got {self.events()}")
                self._cond.wait(remaining)

    def send_line(self):
        self.proc.stdin.write(b"stop\n")
        self.proc.stdin.flush()

    def close_stdin(self):
        self.proc.stdin.close()

    def finish(self, timeout=90):
        status = self.proc.wait(timeout=timeout)
        self._reader.join(5)
        self._err_reader.join(5)
        if self.proc.stdin and not self.proc.stdin.closed:
            self.proc.stdin.close()
        return status

    def events(self):
        return [json.loads(raw) for _, raw in self.lines]

    def time_of(self, text):
        return next(t for t, raw in self.lines if json.loads(raw).get("text") == text)

    @property
    def stderr(self):
        return self._stderr


EVENT_SCHEMA = os.path.join(HERE, "..", "..", "doc", "event-line.schema.json")
_event_validator = None


def schema_errors(event):
    """What doc/event-line.schema.json finds wrong with one decoded event line; empty when valid."""
    global _event_validator
    if _event_validator is None:
        jsonschema = pytest.importorskip(
            "jsonschema", reason="python3-jsonschema is not installed (install-deps.sh --test)")
        with open(EVENT_SCHEMA, encoding="utf-8") as f:
            _event_validator = jsonschema.Draft202012Validator(json.load(f))
    return [error.message for error in _event_validator.iter_errors(event)]


def check_stream(run):
    """Every line is one compact JSON object with exactly kind and text; exactly one terminal line,
    last; nothing on stderr."""
    assert run.stderr == b"", run.stderr
    kinds = []
    for _, raw in run.lines:
        assert raw.endswith(b"\n") and not raw.endswith(b"\r\n")
        event = json.loads(raw)
        assert set(event) == {"kind", "text"}, event
        assert event["kind"] in ("status", "partial", "final", "error"), event
        assert isinstance(event["text"], str)
        assert not schema_errors(event), (event, schema_errors(event))
        kinds.append(event["kind"])
    assert kinds, "no output at all"
    terminal = [k for k in kinds if k in ("final", "error")]
    assert len(terminal) == 1 and kinds[-1] in ("final", "error"), kinds
    return run.events()


def play(server, wav):
    env = dict(os.environ, PULSE_SERVER=server)
    return subprocess.Popen(["paplay", "-d", SINK, wav], env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def env_with(server):
    return dict(os.environ, PULSE_SERVER=server, LANG="en_US.UTF-8")


def pytest_configure(config):
    config.addinivalue_line("markers", "soak: many back-to-back runs; plain build only")
    config.addinivalue_line("markers", "valgrind: runs under memcheck; plain build only")
    config.addinivalue_line("markers", "core: also run against PipeWire (MIC_SOUND_SERVER=pipewire)")


def pytest_terminal_summary(terminalreporter):
    """The counts the reliability tests recorded: runs, faults injected, inputs tried, failures."""
    tallies = sys.modules.get("reliability")
    if tallies is None or not tallies.TALLIES:
        return
    terminalreporter.section("reliability counts")
    for name, counts in sorted(tallies.TALLIES.items()):
        terminalreporter.write_line(
            f"{name}: " + ", ".join(f"{key}={value}" for key, value in counts.items()))
