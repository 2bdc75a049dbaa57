"""Helpers for the fault, bad-input, on-device and soak tests: sanitizer-aware time budgets, private
sound servers that can be killed, namespaces, strace logs, and the counts each test records."""
import contextlib
import functools
import json
import os
import re
import shutil
import signal
import subprocess
import time

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
MODEL_DIR = "/usr/share/pocketsphinx/model"  # compiled into the binary (pkg-config modeldir)

REQUESTING = {"kind": "status", "text": "requesting local speech access"}
LISTENING = {"kind": "status", "text": "listening locally"}
FINISHING = {"kind": "status", "text": "finishing transcript"}
NO_SPEECH = {"kind": "error", "text": "no speech was detected"}
NO_MICROPHONE = {"kind": "error", "text": "no microphone input is available"}
UNAVAILABLE = {"kind": "error", "text": "speech recognition is unavailable for this language"}

# What each test saw, as counts; conftest prints them after the run.
TALLIES = {}


def tally(name, **counts):
    entry = TALLIES.setdefault(name, {})
    for key, value in counts.items():
        entry[key] = entry.get(key, 0) + value


@functools.lru_cache(maxsize=None)
def sanitizer(binary):
    """"address", "thread" or None: which runtime the binary was built with."""
    with open(binary, "rb") as f:
        image = f.read()
    if b"__tsan_init" in image:
        return "thread"
    if b"__asan_init" in image:
        return "address"
    return None


def slack(binary):
    """How much longer than plain a budget may be: the sanitizers slow our threads down."""
    return {"thread": 4.0, "address": 2.5}.get(sanitizer(binary), 1.0)


def terminal_of(events):
    ends = [e for e in events if e["kind"] in ("final", "error")]
    assert len(ends) == 1, events
    return ends[0]


def expected_status(event):
    if event["kind"] == "final":
        return 0
    return 2 if event == NO_SPEECH else 1


@contextlib.contextmanager
def private_mic(directory):
    """A virtual microphone of our own, so a test can kill its server and leave the shared one alone.
    Yields the object with .server, .start() and .kill(sig)."""
    mic = _PrivateMic(directory)
    try:
        mic.start()
        yield mic
    finally:
        mic.stop()


class _PrivateMic:
    def __init__(self, directory):
        self.directory = str(directory)
        self.server = None

    def _script(self, command):
        return subprocess.run(["bash", os.path.join(HERE, "virtual_mic.sh"), command, self.directory],
                              capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=60)

    def start(self):
        # Once more on failure: restarting right after a kill, on a loaded machine, rarely fails.
        for _ in range(2):
            started = self._script("start")
            if started.returncode == 0:
                break
        else:
            pytest.skip(f"a private virtual microphone did not start (status {started.returncode}):"
                        f" {started.stderr.strip()}")
        self.server = started.stdout.strip().splitlines()[-1].split("=", 1)[1]

    def pid(self):
        """The process behind the socket libpulse clients reach: PulseAudio, or pipewire-pulse."""
        for name in ("pulseaudio.pid", "pipewire-pulse.pid"):
            with contextlib.suppress(FileNotFoundError), open(os.path.join(self.directory, name)) as f:
                return int(f.read())
        raise FileNotFoundError(f"no sound server PID in {self.directory}")

    def pactl(self, *args):
        return subprocess.run(["pactl", *args], env=dict(os.environ, PULSE_SERVER=self.server),
                              capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=20)

    def add_speakers(self):
        """An output, as every desktop has: the sink "speakers", whose monitor the server may
        offer instead of a microphone."""
        done = self.pactl("load-module", "module-null-sink", "sink_name=speakers")
        assert done.returncode == 0, done.stderr

    def remove_microphone(self):
        """Unplugs the only microphone (the source, then the sink it hears) and leaves speakers in
        place, as on a laptop: the server then moves the program's stream to an output's monitor,
        which is no microphone."""
        self.add_speakers()
        for module in ("module-remap-source", f"module-null-sink sink_name=vspk"):
            done = self.pactl("unload-module", self.module_index(module))
            assert done.returncode == 0, (module, done.stderr)

    def module_index(self, name_and_arguments):
        """The index of the loaded module whose name and arguments start with these."""
        name, _, arguments = name_and_arguments.partition(" ")
        listed = self.pactl("list", "short", "modules")
        for line in listed.stdout.splitlines():
            fields = line.split("\t")
            if len(fields) > 2 and fields[1] == name and fields[2].strip().startswith(arguments):
                return fields[0]
        raise AssertionError(f"no module {name_and_arguments!r} loaded: {listed.stdout}")

    def kill(self, sig=signal.SIGKILL):
        pid = self.pid()
        os.kill(pid, sig)
        if sig in (signal.SIGKILL, signal.SIGTERM):
            deadline = time.monotonic() + 5
            while time.monotonic() < deadline and _alive(pid):
                time.sleep(0.02)

    def stop(self):
        # A stopped daemon would never see the TERM the script sends.
        with contextlib.suppress(OSError, ValueError):
            os.kill(self.pid(), signal.SIGCONT)
        self._script("stop")


def _alive(pid):
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().split(") ", 1)[1][0] != "Z"
    except OSError:
        return False


@functools.lru_cache(maxsize=None)
def namespace_problem(kind):
    """Why `unshare` with the given namespace flag ("-m" or "-n") cannot run here, or None."""
    if shutil.which("unshare") is None:
        return "unshare (util-linux) is not installed"
    probe = {"-m": f"mount --bind {MODEL_DIR} {MODEL_DIR}", "-n": "true"}[kind]
    done = subprocess.run(["unshare", kind, "sh", "-c", probe], capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=20)
    if done.returncode != 0:
        return f"unshare {kind} is not permitted here ({done.stderr.strip() or done.returncode})"
    return None


def need_namespace(kind):
    problem = namespace_problem(kind)
    if problem:
        pytest.skip(problem)


def with_model(binary, model_copy):
    """argv that runs the binary with `model_copy` mounted over the compiled-in model directory,
    in a private mount namespace (nothing outside the process sees it)."""
    return ["unshare", "-m", "sh", "-c", 'mount --bind "$0" "$1" && exec "$2"', model_copy,
            MODEL_DIR, binary]


# strace writes paths with C escapes; these parts of a path change from run to run.
_VARYING = re.compile(r"\d+")
_FIRST_STRING = re.compile(r'^\d+\s+(\w+)\([^"]*?"((?:[^"\\]|\\.)*)"')


def touched_paths(log_file):
    """Every path named by a call in an `strace -f -e trace=%file` log, as strace escapes it."""
    paths = set()
    with open(log_file, errors="replace") as f:
        for line in f:
            match = _FIRST_STRING.match(line)
            if match and match.group(2):
                paths.add(match.group(2))
    return paths


def normalized(path):
    return _VARYING.sub("N", path)


def socket_calls(log_file):
    """The address families of every socket() and connect() in an strace log."""
    families = []
    with open(log_file, errors="replace") as f:
        for line in f:
            match = re.search(r"\b(socket|connect|bind)\((?:\d+, )?(?:\{sa_family=)?(AF_\w+)", line)
            if match:
                families.append((match.group(1), match.group(2)))
    return families


def json_lines(raw_lines):
    return [json.loads(raw) for _, raw in raw_lines]
