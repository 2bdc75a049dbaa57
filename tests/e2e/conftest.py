"""pytest's side of the end-to-end suite: the binary, the virtual microphone and the speech
directory as fixtures, and the reliability counts after the run. The helpers tests call are in
harness.py."""
import os
import shutil
import subprocess
import sys
import tempfile

import pytest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)

BINARY = os.environ.get("MIC_TRANSCRIBER", os.path.join(HERE, "..", "..", "build", "mic-transcriber"))
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


def pytest_configure(config):
    config.addinivalue_line("markers", "soak: many back-to-back runs; plain build only")
    config.addinivalue_line("markers", "valgrind: runs under memcheck; plain build only")
    config.addinivalue_line("markers", "core: also run against PipeWire (MIC_SOUND_SERVER=pipewire)")
    config.addinivalue_line("markers", "address_space: runs under an address-space limit; plain build only")
    config.addinivalue_line("markers", "double_free: a double free the allocator must catch; not under TSan")


def pytest_terminal_summary(terminalreporter):
    """The counts the reliability tests recorded: runs, faults injected, inputs tried, failures."""
    tallies = sys.modules.get("reliability")
    if tallies is None or not tallies.TALLIES:
        return
    terminalreporter.section("reliability counts")
    for name, counts in sorted(tallies.TALLIES.items()):
        terminalreporter.write_line(
            f"{name}: " + ", ".join(f"{key}={value}" for key, value in counts.items()))
