"""Faults around the real binary: the sound server dying or stalling, a damaged model, closed or
vanishing standard streams, a terminal that never sends a line. Whatever happens, a run ends with
exactly one terminal line and the status that goes with it, in bounded time."""
import contextlib
import os
import pty
import select
import shutil
import signal
import subprocess
import termios
import time

import pytest

from conftest import SOUND_SERVER
from harness import Run, check_stream, env_with, play, synthesize
from reliability import (FINISHING, LISTENING, MODEL_DIR, NO_SPEECH, REQUESTING, UNAVAILABLE,
                         expected_status, need_namespace, private_mic, slack, tally, terminal_of,
                         with_model)

LONG_SENTENCE = ("when the sunlight strikes raindrops in the air they act as a prism and form a "
                 "rainbow which is a division of white light into many beautiful colors")
SHORT_SENTENCE = "please turn on the kitchen lights"
DRAIN = 2.0
# How long after its trigger a run may take to end: the 2 s drain, or for a microphone or server
# that went away, about a second to notice and the drain cut short by the recognizer's final word.
AFTER_TRIGGER = 3.0
MICROPHONE_ERRORS = ("no microphone input is available", "microphone could not start: ")


def shell(command, binary, *args):
    """argv running the binary under a shell redirection such as `>&-`."""
    return ["sh", "-c", f'exec "$0" "$@" {command}', binary, *args]


def stopped_player(player):
    try:
        player.wait(5)
    except subprocess.TimeoutExpired:
        player.kill()
        player.wait(5)


# --- the sound server ---------------------------------------------------------------------------

# Every kill point (five) with both signals on PipeWire; twice over on PulseAudio.
SERVER_DEATHS = 20 if SOUND_SERVER == "pulseaudio" else 10


@pytest.mark.core
def test_sound_server_killed_mid_speech_stops_listening(binary, speech_dir, tmp_path):
    """The server dies at a different point of the sentence in each run (SIGKILL and SIGTERM in
    turn). Capture is over, so listening stops as a trigger stops it: the transcript so far, or "no
    speech was detected" when the kill came before any words, within AFTER_TRIGGER of the kill."""
    wav = synthesize(speech_dir, "rainbow", LONG_SENTENCE)
    factor = slack(binary)
    problems, outcomes = [], {"final": 0, "no speech": 0}
    with private_mic(tmp_path / "vmic") as mic:
        for attempt in range(SERVER_DEATHS):
            if attempt:
                mic.start()
            run, player = Run(binary, env=env_with(mic.server)), None
            try:
                run.wait_for_text("listening locally", timeout=20 * factor)
                player = play(mic.server, wav)
                time.sleep(0.5 + (attempt % 5) * 0.6)
                killed = time.monotonic() - run.started
                mic.kill(signal.SIGKILL if attempt % 2 == 0 else signal.SIGTERM)
                status = run.ended(20 * factor)
                events = check_stream(run)
                end = terminal_of(events)
                outcomes["final" if end["kind"] == "final" else "no speech"] += 1
                assert end["kind"] == "final" or end == NO_SPEECH, events
                assert status == expected_status(end), (status, events)
                assert FINISHING in events, events
                took = run.lines[-1][0] - killed
                assert took <= AFTER_TRIGGER * factor, (f"ended {took:.1f} s after the kill", events)
            except AssertionError as failure:
                problems.append(f"run {attempt}: {failure}")
            finally:
                if run.proc.poll() is None:
                    run.proc.kill()
                if player:
                    stopped_player(player)
    tally("server killed mid-speech", runs=SERVER_DEATHS, faults_injected=SERVER_DEATHS,
          failures=len(problems), **outcomes)
    assert not problems, "\n".join(problems)


def test_sound_server_stalled_mid_speech_still_ends_on_a_line(binary, speech_dir, tmp_path):
    """A server that stops answering (SIGSTOP) must not hold the run: stopping the capture may not
    wait on it forever."""
    wav = synthesize(speech_dir, "rainbow", LONG_SENTENCE)
    factor = slack(binary)
    runs, problems = 3, []
    with private_mic(tmp_path / "vmic") as mic:
        for attempt in range(runs):
            run, player = Run(binary, env=env_with(mic.server)), None
            try:
                run.wait_for_text("listening locally", timeout=20 * factor)
                player = play(mic.server, wav)
                time.sleep(1.0 + attempt)
                mic.kill(signal.SIGSTOP)
                time.sleep(0.5)
                run.send_line()
                sent = time.monotonic() - run.started
                status = run.ended((DRAIN + 10) * factor)
                events = check_stream(run)
                assert status == expected_status(terminal_of(events)) and status in (0, 2), events
                assert run.lines[-1][0] - sent <= (AFTER_TRIGGER + 1.0) * factor, events
            except AssertionError as failure:
                problems.append(f"run {attempt}: {failure}")
            finally:
                if run.proc.poll() is None:
                    run.proc.kill()
                mic.kill(signal.SIGCONT)
                if player:
                    stopped_player(player)
    tally("server stalled mid-speech", runs=runs, faults_injected=runs, failures=len(problems))
    assert not problems, "\n".join(problems)


def _server_gone(how, tmp_path, stack):
    """The environment of a run whose sound server is absent in the way `how` says."""
    if how == "no socket":
        return env_with(f"unix:{tmp_path}/nothing-here")
    if how == "no server configured":
        env = env_with("")
        del env["PULSE_SERVER"]
        for name in ("HOME", "XDG_RUNTIME_DIR", "XDG_CONFIG_HOME"):
            os.makedirs(tmp_path / name, exist_ok=True)
            env[name] = str(tmp_path / name)
        return env
    mic = stack.enter_context(private_mic(tmp_path / "vmic"))
    # SIGKILL leaves the socket file behind; a stopped server accepts and never answers.
    mic.kill(signal.SIGKILL if how == "stale socket" else signal.SIGSTOP)
    return env_with(mic.server)


@pytest.mark.parametrize("how", ["no socket", "stale socket", "no server configured",
                                 "server stalled"])
def test_sound_server_gone_before_start(binary, tmp_path, how):
    with contextlib.ExitStack() as stack:
        run = Run(binary, env=_server_gone(how, tmp_path, stack))  # stdin open: only the failure ends it
        status = run.ended(30 * slack(binary))
    events = check_stream(run)
    tally("server gone before start", runs=1, faults_injected=1, failures=int(status != 1))
    assert events[0] == REQUESTING
    assert LISTENING not in events
    assert status == 1 and events[-1]["kind"] == "error", events
    assert events[-1]["text"].startswith(MICROPHONE_ERRORS), events


# --- a damaged model ----------------------------------------------------------------------------

MODEL_FILES = ["en-us/en-us/mdef", "en-us/en-us/means", "en-us/en-us/variances",
               "en-us/en-us/transition_matrices", "en-us/en-us/feat.params",
               "en-us/en-us/noisedict", "en-us/en-us/sendump", "en-us/en-us.lm.bin",
               "en-us/cmudict-en-us.dict"]
DAMAGES = [(f, d) for f in MODEL_FILES for d in ("missing", "empty", "truncated")] + [
    ("en-us", "missing"), ("en-us/en-us", "missing"), ("en-us/en-us/mdef", "a directory"),
    ("en-us/en-us.lm.bin", "a dangling link")]


@pytest.fixture(scope="module")
def pristine_model(tmp_path_factory):
    if not os.path.isdir(MODEL_DIR):
        pytest.skip(f"no model at {MODEL_DIR} (Debian pocketsphinx-en-us)")
    copy = tmp_path_factory.mktemp("model") / "pristine"
    shutil.copytree(MODEL_DIR, copy, symlinks=True)
    return copy


def damaged_copy(pristine, directory, target, damage):
    """A copy of the model, hard-linked to save space, with one file damaged (unlinked first so
    the pristine copy is never written through a link)."""
    copy = directory / "model"
    subprocess.run(["cp", "-al", str(pristine), str(copy)], check=True)
    path = copy / target
    content = path.read_bytes() if path.is_file() else b""
    if path.is_dir():
        shutil.rmtree(path)
    else:
        path.unlink()
    if damage == "empty":
        path.write_bytes(b"")
    elif damage == "truncated":
        path.write_bytes(content[: len(content) // 2])
    elif damage == "a directory":
        path.mkdir()
    elif damage == "a dangling link":
        path.symlink_to(directory / "gone")
    return copy


@pytest.mark.parametrize("target,damage", DAMAGES, ids=[f"{t}-{d}" for t, d in DAMAGES])
def test_damaged_model_is_a_clear_error(binary, pulse_server, speech_dir, pristine_model, tmp_path,
                                        target, damage):
    need_namespace("-m")
    model = damaged_copy(pristine_model, tmp_path, target, damage)
    argv = with_model(binary, str(model))
    factor = slack(binary)
    # stdin stays open while the model loads: a load error found while draining would be ignored
    # (that ending only reports the transcript), so only a listening run shows it.
    run = Run(argv[0], argv[1:], env=env_with(pulse_server))
    try:
        run.proc.wait(timeout=10 * factor)
    except subprocess.TimeoutExpired:
        # The damage went unnoticed: see whether decoding with it holds up, then end the run.
        player = play(pulse_server, synthesize(speech_dir, "kitchen", SHORT_SENTENCE))
        stopped_player(player)
        if run.proc.poll() is None:
            run.send_line()
    status = run.ended(20 * factor)
    crashed = status < 0 or not run.lines or run.events()[-1]["kind"] not in ("final", "error")
    tally("damaged model", inputs_tried=1, crashes=int(crashed), failures=int(status != 1))
    assert not crashed, (f"{target} {damage}: status {status}", run.events(), run.stderr[-2000:])
    events = check_stream(run)
    assert status == 1, (f"{target} {damage}: status {status}", events)
    assert events[0] == REQUESTING
    if target == "en-us":
        # No model for the language at all.
        assert events == [REQUESTING, UNAVAILABLE], events
        return
    # The language is installed: its damage is the recognition failure, naming the file.
    assert events[-1]["kind"] == "error", events
    # The copy is mounted over the installed model, so the path named is the installed one.
    named = os.path.join(MODEL_DIR, target)
    assert events[-1]["text"].startswith(f"speech model is damaged: {named}: "), events


# --- standard streams ---------------------------------------------------------------------------

@pytest.mark.parametrize("redirection", ["<&-", "</dev/null", "<EMPTY"])
def test_stdin_closed_or_at_its_end_stops_at_once(binary, pulse_server, tmp_path, redirection):
    empty = tmp_path / "empty"
    empty.write_bytes(b"")
    argv = shell(redirection.replace("EMPTY", str(empty)), binary)
    run = Run(argv[0], argv[1:], env=env_with(pulse_server))
    status = run.ended(20 * slack(binary))
    events = check_stream(run)
    tally("stdin closed or at end", runs=1, failures=int(status != 2))
    assert events == [REQUESTING, LISTENING, FINISHING, NO_SPEECH] and status == 2, (status, events)
    assert run.time_of("finishing transcript") - run.time_of("listening locally") < 1.0 * slack(
        binary)


class _Reader:
    """stdout read by hand, so the test can close it mid-run like a reader that goes away."""

    def __init__(self, binary, env):
        self.proc = subprocess.Popen([binary], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env)
        self.buffer = b""

    def wait_for(self, fragment, timeout):
        deadline = time.monotonic() + timeout
        while fragment not in self.buffer:
            left = deadline - time.monotonic()
            assert left > 0, f"no {fragment!r} in {self.buffer!r}"
            ready, _, _ = select.select([self.proc.stdout], [], [], left)
            if ready:
                chunk = os.read(self.proc.stdout.fileno(), 4096)
                assert chunk, f"stdout ended before {fragment!r}: {self.buffer!r}"
                self.buffer += chunk

    def go_away(self):
        self.proc.stdout.close()


@pytest.mark.parametrize("when", ["while listening", "during speech"])
def test_reader_that_goes_away_ends_the_process(binary, pulse_server, speech_dir, when):
    factor = slack(binary)
    reader = _Reader(binary, env_with(pulse_server))
    player = None
    try:
        reader.wait_for(b"listening locally", 20 * factor)
        if when == "during speech":
            player = play(pulse_server, synthesize(speech_dir, "rainbow", LONG_SENTENCE))
            reader.wait_for(b'"partial"', 20 * factor)
        reader.go_away()
        time.sleep(1.0)
        if reader.proc.poll() is None:
            reader.proc.stdin.write(b"stop\n")  # the next line written meets the closed pipe
            reader.proc.stdin.flush()
        status = reader.proc.wait(timeout=(DRAIN + 10) * factor)
    finally:
        if reader.proc.poll() is None:
            reader.proc.kill()
            reader.proc.wait(5)
        if player:
            player.kill()
            player.wait(5)
    stderr = reader.proc.stderr.read()
    tally("reader went away", runs=1, failures=0)
    # No handler of our own for a broken pipe: SIGPIPE ends it, or a status if the write came last.
    assert status in (-signal.SIGPIPE, 0, 2), status
    assert stderr == b"", stderr


def test_terminal_that_never_sends_a_line_ends_by_the_pause(binary, pulse_server, speech_dir):
    """stdin a pty nobody types into: the pause after speech ends the run, long before 60 s, and the
    terminal's settings are left as they were."""
    factor = slack(binary)
    wav = synthesize(speech_dir, "kitchen", SHORT_SENTENCE)
    master, slave = pty.openpty()
    before = termios.tcgetattr(slave)
    try:
        run = Run(binary, env=env_with(pulse_server), stdin=slave)
        run.wait_for_text("listening locally", timeout=20 * factor)
        player = play(pulse_server, wav)
        status = run.ended(40 * factor)
        stopped_player(player)
        after = termios.tcgetattr(slave)
    finally:
        os.close(master)
        os.close(slave)
    events = check_stream(run)
    tally("pty stdin", runs=1, failures=int(status != 0))
    assert status == 0 and events[-1]["kind"] == "final", events
    assert run.time_of("finishing transcript") - run.time_of("listening locally") < 30
    assert before == after


# --- the time of day ----------------------------------------------------------------------------

FAKETIME = "/usr/lib/x86_64-linux-gnu/faketime/libfaketimeMT.so.1"


@pytest.mark.parametrize("step", ["back in the pause", "forward between phrases"])
def test_a_clock_step_does_not_move_the_pause(binary, pulse_server, speech_dir, tmp_path, step):
    """The time of day stepped by an hour (NTP after a resume, a user setting the clock): back, the
    pause after speech still ends the run; forward, in a short pause between two phrases, the
    speaker is not cut off."""
    if not os.path.exists(FAKETIME):
        pytest.skip("libfaketime is not installed (package faketime, install-deps.sh --test)")
    factor = slack(binary)
    first = synthesize(speech_dir, "kitchen", SHORT_SENTENCE)
    second = synthesize(speech_dir, "alarm", "set an alarm for seven thirty tomorrow morning")
    wav = str(tmp_path / "phrases.wav")
    gap = str(tmp_path / "first-gap.wav")
    subprocess.run(["sox", first, gap, "pad", "0", "0.9"], check=True, stdin=subprocess.DEVNULL)
    subprocess.run(["sox", gap, second, wav], check=True, stdin=subprocess.DEVNULL)
    first_seconds = float(subprocess.run(["soxi", "-D", first], check=True, capture_output=True,
                                         stdin=subprocess.DEVNULL, text=True).stdout)
    offset = tmp_path / "offset"
    offset.write_text("+0\n")
    env = dict(env_with(pulse_server), LD_PRELOAD=FAKETIME, FAKETIME_TIMESTAMP_FILE=str(offset),
               FAKETIME_NO_CACHE="1", FAKETIME_DONT_FAKE_MONOTONIC="1",
               # The preload comes before a sanitizer's runtime; that order is harmless here.
               ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
    run = Run(binary, env=env)
    run.wait_for_text("listening locally", timeout=20 * factor)
    player = play(pulse_server, wav)
    if step == "back in the pause":
        player.wait(20)
        offset.write_text("-1h\n")
    else:
        # Into the 0.9 s between the phrases, when the transcript stands still.
        time.sleep(first_seconds + 0.4)
        offset.write_text("+1h\n")
        player.wait(20)
    spoken = time.monotonic() - run.started
    status = run.ended(40 * factor)
    events = check_stream(run)
    assert status == 0 and events[-1]["kind"] == "final", events
    # Before, stepped back: the run went on to the 60 s limit; stepped forward: the next tick
    # stopped it between the phrases.
    assert spoken < run.time_of("finishing transcript") < spoken + 10 * factor, events
    text = events[-1]["text"].lower().split()
    assert "kitchen" in text[:6] and "tomorrow" in text[-3:], events
