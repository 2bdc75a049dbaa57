"""A microphone that goes away mid-run, on the sound server this pass runs (PulseAudio or
PipeWire). Gone for good, the run stops listening as a stop trigger stops it, keeping what it
heard, even when the server moves the recording to an output's monitor; moved to another
microphone, it goes on listening. A machine with outputs only has no microphone at all."""
import subprocess
import time

import pytest

from harness import Run, check_stream, env_with, play, synthesize, word_error_rate
from reliability import (FINISHING, LISTENING, NO_MICROPHONE, NO_SPEECH, REQUESTING, private_mic,
                         slack, tally)

pytestmark = pytest.mark.core

SENTENCE = "the quick brown fox jumps over the lazy dog"
LONG_SENTENCE = ("when the sunlight strikes raindrops in the air they act as a prism and form a "
                 "rainbow which is a division of white light into many beautiful colors")
# From the microphone going away to the terminal line: about a second to notice, then the drain
# (which a final result from the recognizer cuts short).
ENDS_WITHIN = 3.0
MAX_WER = 0.34


def wait_for_words(run, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if any(e["kind"] == "partial" and e["text"].strip() for e in run.events()):
            return
        assert run.proc.poll() is None, run.events()
        time.sleep(0.05)
    raise AssertionError(f"no words heard; got {run.events()}")


def stopped(player):
    if player.poll() is None:
        player.kill()
    player.wait(5)


def test_microphone_gone_before_any_words_ends_with_no_speech(binary, tmp_path):
    factor = slack(binary)
    with private_mic(tmp_path / "vmic") as mic:
        run = Run(binary, env=env_with(mic.server))  # stdin open: only the microphone can end it
        run.wait_for_text("listening locally", timeout=20 * factor)
        time.sleep(0.3)
        removed = time.monotonic() - run.started
        mic.remove_microphone()
        status = run.ended(20 * factor)
    events = check_stream(run)
    took = run.lines[-1][0] - removed
    tally("microphone gone", runs=1, faults_injected=1,
          failures=int(status != 2 or took > ENDS_WITHIN * factor))
    assert events == [REQUESTING, LISTENING, FINISHING, NO_SPEECH] and status == 2, (status, events)
    assert took <= ENDS_WITHIN * factor, f"ended {took:.1f} s after the microphone went away"


def test_microphone_gone_after_words_keeps_them(binary, speech_dir, tmp_path):
    factor = slack(binary)
    wav = synthesize(speech_dir, "rainbow", LONG_SENTENCE)
    with private_mic(tmp_path / "vmic") as mic:
        run = Run(binary, env=env_with(mic.server))
        run.wait_for_text("listening locally", timeout=20 * factor)
        player = play(mic.server, wav)
        try:
            wait_for_words(run, 15 * factor)
            time.sleep(1.0)
            removed = time.monotonic() - run.started
            mic.remove_microphone()
            status = run.ended(20 * factor)
        finally:
            stopped(player)
    events = check_stream(run)
    took = run.lines[-1][0] - removed
    tally("microphone gone", runs=1, faults_injected=1,
          failures=int(status != 0 or took > ENDS_WITHIN * factor))
    assert status == 0 and events[-1]["kind"] == "final", (status, events)
    assert FINISHING in events and events[-1]["text"], events
    assert took <= ENDS_WITHIN * factor, f"ended {took:.1f} s after the microphone went away"


def test_microphone_moved_to_another_source_keeps_listening(binary, speech_dir, tmp_path):
    """A second microphone hears the same sink; the one in use goes mid-sentence. The server moves
    the stream, and the words after the move still reach the transcript."""
    factor = slack(binary)
    wav = synthesize(speech_dir, "fox", SENTENCE)
    with private_mic(tmp_path / "vmic") as mic:
        loaded = mic.pactl("load-module", "module-remap-source", "source_name=vmic2",
                           "master=vspk.monitor")
        assert loaded.returncode == 0, loaded.stderr
        first = mic.module_index("module-remap-source source_name=vmic master=vspk.monitor")
        run = Run(binary, env=env_with(mic.server))
        run.wait_for_text("listening locally", timeout=20 * factor)
        player = play(mic.server, wav)
        try:
            wait_for_words(run, 15 * factor)
            assert mic.pactl("unload-module", first).returncode == 0
            status = run.ended(30 * factor)
        finally:
            stopped(player)
    events = check_stream(run)
    assert status == 0 and events[-1]["kind"] == "final", (status, events)
    # Had the move ended listening, the second half of the sentence would be missing.
    assert word_error_rate(SENTENCE, events[-1]["text"]) <= MAX_WER, events[-1]["text"]


def test_only_outputs_means_no_microphone(binary, speech_dir, tmp_path):
    """No microphone, only speakers: the server names the speakers' monitor as the default source.
    Listening to it would transcribe what the computer plays."""
    factor = slack(binary)
    wav = synthesize(speech_dir, "fox", SENTENCE)
    with private_mic(tmp_path / "vmic") as mic:
        mic.add_speakers()
        gone = mic.pactl("unload-module", mic.module_index("module-remap-source"))
        assert gone.returncode == 0, gone.stderr
        chosen = mic.pactl("set-default-source", "speakers.monitor")
        assert chosen.returncode == 0, chosen.stderr
        player = subprocess.Popen(["paplay", "-d", "speakers", wav], env=env_with(mic.server),
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            run = Run(binary, env=env_with(mic.server))
            status = run.ended(20 * factor)
        finally:
            stopped(player)
    events = check_stream(run)
    assert events == [REQUESTING, NO_MICROPHONE] and status == 1, (status, events)
