"""The real binary against the virtual microphone, with synthesized speech and real timing."""
import contextlib
import signal
import socket
import subprocess
import time

import pytest

from harness import Run, check_stream, env_with, play, synthesize, word_error_rate
from reliability import private_mic, slack

SENTENCE = "the quick brown fox jumps over the lazy dog"
# The model decodes flite's voice at roughly 6 to 13 percent WER (measured); allow for a bad day.
MAX_WER = 0.34
# The whole stream of a run that listened and heard nothing.
NOTHING_HEARD = ["requesting local speech access", "listening locally", "finishing transcript",
                 "no speech was detected"]
LONG_SENTENCE = ("when the sunlight strikes raindrops in the air they act as a prism and form a "
                 "rainbow which is a division of white light into many beautiful colors")


def speak_into(binary, pulse_server, wav, timeout=40):
    """Plays `wav` once the program listens and lets the pause end the run: its status and lines."""
    run = Run(binary, env=env_with(pulse_server))
    run.wait_for_text("listening locally")
    player = play(pulse_server, wav)
    status = run.finish(timeout=timeout)
    player.wait(10)
    return status, check_stream(run)


@pytest.mark.core
def test_speech_then_pause_gives_the_transcript(binary, pulse_server, speech_dir):
    wav = synthesize(speech_dir, "fox", SENTENCE)
    status, events = speak_into(binary, pulse_server, wav)
    assert status == 0, events
    assert events[0] == {"kind": "status", "text": "requesting local speech access"}
    assert events[1] == {"kind": "status", "text": "listening locally"}
    kinds = [e["kind"] for e in events]
    assert "partial" in kinds
    finishing = events.index({"kind": "status", "text": "finishing transcript"})
    assert kinds.index("partial") < finishing < len(events) - 1
    final = events[-1]
    assert final["kind"] == "final"
    assert final["text"] == final["text"].strip() and final["text"]
    assert word_error_rate(SENTENCE, final["text"]) <= MAX_WER, final["text"]


@pytest.mark.core
def test_the_transcript_is_display_text(binary, pulse_server, speech_dir):
    """Names capitalised and numbers as digits, in the partials as in the final."""
    wav = synthesize(speech_dir, "monday", "call me on monday at three thirty p m")
    status, events = speak_into(binary, pulse_server, wav)
    assert status == 0, events
    partials = [e["text"] for e in events if e["kind"] == "partial"]
    assert any("Monday" in p for p in partials) and any(":30" in p for p in partials), partials
    assert not any("monday" in p for p in partials), partials
    final = events[-1]["text"]
    assert final[0].isupper() and "Monday" in final and "3:30 PM" in final, events


def test_a_short_pause_between_phrases_keeps_listening_and_keeps_both(binary, pulse_server,
                                                                     speech_dir):
    """Under a second between two phrases: too short to stop, long enough for the recognizer to
    finish the first phrase as a segment of its own. The transcript must hold both, in order."""
    first = "please turn on the kitchen lights"
    second = "set an alarm for seven thirty tomorrow morning"
    a = synthesize(speech_dir, "phrase-a", first)
    b = synthesize(speech_dir, "phrase-b", second)
    wav = f"{speech_dir}/phrase-a-gap-b.wav"
    subprocess.run(["sox", a, wav, "pad", "0", "0.9"], check=True, stdin=subprocess.DEVNULL)
    joined = f"{speech_dir}/phrases.wav"
    subprocess.run(["sox", wav, b, joined], check=True, stdin=subprocess.DEVNULL)
    status, events = speak_into(binary, pulse_server, joined)
    assert status == 0, events
    text = events[-1]["text"]
    assert word_error_rate(f"{first} {second}", text) <= MAX_WER, text
    # Had the gap stopped it, the second phrase would be missing.
    assert "tomorrow" in text.split()[-3:] and "kitchen" in text.split()[:6], text


@pytest.mark.core
def test_a_microphone_with_aux_channels_is_heard(binary, speech_dir, tmp_path):
    """A multi-input interface names its channels AUX0, AUX1, ...: the server connects none of them
    to a stream that asks for front left and right, which would record silence."""
    wav = synthesize(speech_dir, "fox", SENTENCE)
    with private_mic(tmp_path / "vmic") as mic:
        made = mic.pactl("load-module", "module-remap-source", "source_name=vaux",
                         "master=vspk.monitor", "channels=4", "channel_map=aux0,aux1,aux2,aux3",
                         "master_channel_map=mono,mono,mono,mono", "remix=no")
        assert made.returncode == 0, made.stderr
        chosen = mic.pactl("set-default-source", "vaux")
        assert chosen.returncode == 0, chosen.stderr
        status, events = speak_into(binary, mic.server, wav, timeout=40 * slack(binary))
    assert status == 0 and events[-1]["kind"] == "final", (status, events)
    assert word_error_rate(SENTENCE, events[-1]["text"]) <= MAX_WER, events[-1]["text"]


@pytest.mark.core
def test_silence_with_stdin_closed_is_no_speech(binary, pulse_server):
    run = Run(binary, env=env_with(pulse_server))
    run.wait_for_text("listening locally")
    time.sleep(1.0)
    run.close_stdin()
    status = run.finish(timeout=20)
    events = check_stream(run)
    assert status == 2
    assert [e["text"] for e in events] == NOTHING_HEARD
    assert events[-1]["kind"] == "error"


@pytest.mark.core
def test_a_line_on_stdin_stops_listening(binary, pulse_server, speech_dir):
    wav = synthesize(speech_dir, "long", LONG_SENTENCE)
    run = Run(binary, env=env_with(pulse_server))
    run.wait_for_text("listening locally")
    player = play(pulse_server, wav)
    time.sleep(1.5)
    run.send_line()
    run.wait_for_text("finishing transcript")
    # Still speaking: the pause cannot have stopped it, the line did.
    assert player.poll() is None
    status = run.finish(timeout=20)
    player.wait(20)
    events = check_stream(run)
    assert status in (0, 2), events
    if status == 0:
        spoken = set(LONG_SENTENCE.split())
        assert len(events[-1]["text"].split()) < len(spoken)


def _partial_with_words(run, count, timeout):
    """The first partial of at least `count` words, waited for up to `timeout` s."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        partials = [e["text"] for e in run.events() if e["kind"] == "partial"]
        if partials and len(partials[-1].split()) >= count:
            return partials[-1]
        time.sleep(0.05)
    raise AssertionError(f"no partial of {count} words; got {run.events()}")


SIGNAL_STOPS = {
    # (signals, when they are sent, the texts of the whole stream, or None for a transcript)
    "SIGINT while the speaker talks": ([signal.SIGINT], "speaking", None),
    "SIGTERM before any speech": ([signal.SIGTERM], "listening", NOTHING_HEARD),
    "SIGHUP then SIGINT": ([signal.SIGHUP, signal.SIGINT], "listening", NOTHING_HEARD),
    # Held before listening by a sound server that accepts and never answers.
    "SIGTERM before listening": ([signal.SIGTERM], "requesting",
                                 ["requesting local speech access", "no speech was detected"]),
}


@pytest.mark.core
@pytest.mark.parametrize("case", SIGNAL_STOPS)
def test_a_signal_stops_listening_and_keeps_what_was_heard(binary, pulse_server, speech_dir,
                                                           tmp_path, case):
    """Ctrl-C, timeout, a push-to-talk key released, a service manager: a signal stops listening
    as a line on stdin does (drain, then one terminal line); before listening, the run ends at once
    as one that heard nothing. A second signal changes nothing. stdin stays open throughout."""
    sent, when, expected = SIGNAL_STOPS[case]
    factor = slack(binary)
    wav = synthesize(speech_dir, "long", LONG_SENTENCE)
    server = pulse_server
    with contextlib.ExitStack() as stack:
        if when == "requesting":
            stalled = stack.enter_context(socket.socket(socket.AF_UNIX))
            stalled.bind(str(tmp_path / "stalled"))
            stalled.listen(8)
            server = f"unix:{tmp_path / 'stalled'}"
        run, status, before = _signalled_run(binary, server, wav, sent, when, factor)
    events = check_stream(run)
    texts = [e["text"] for e in events]
    if expected is not None:
        assert texts == expected and status == 2, (status, events)
        return
    assert status == 0 and events[-1]["kind"] == "final", (status, events)
    # Still speaking: the pause cannot have stopped it, the signal did.
    assert run.stopped_mid_speech, events
    heard = set(events[-1]["text"].lower().split())
    said = before.lower().split()
    assert sum(word in heard for word in said) * 2 >= len(said), (before, events)
    assert len(heard) < len(LONG_SENTENCE.split()), events


def _signalled_run(binary, server, wav, sent, when, factor):
    """A run sent `sent` once it reached `when`: the run, its status, and for "speaking" the
    partial seen last before the signal."""
    run, player, before = Run(binary, env=env_with(server)), None, None
    try:
        if when == "requesting":
            run.wait_for_text("requesting local speech access")
        else:
            run.wait_for_text("listening locally", timeout=20 * factor)
        if when == "speaking":
            player = play(server, wav)
            before = _partial_with_words(run, 3, timeout=20 * factor)
        for number in sent:
            run.proc.send_signal(number)
        if player:
            run.wait_for_text("finishing transcript", timeout=10 * factor)
            run.stopped_mid_speech = player.poll() is None
        status = run.ended(10 * factor)
    finally:
        if run.proc.poll() is None:
            run.proc.kill()
        if player:
            player.kill()
            player.wait(5)
    return run, status, before


@pytest.mark.core
def test_stdin_at_end_of_file_stops_at_once(binary, pulse_server):
    run = Run(binary, env=env_with(pulse_server), stdin=subprocess.DEVNULL)
    status = run.finish(timeout=20)
    events = check_stream(run)
    assert status == 2
    assert [e["text"] for e in events] == NOTHING_HEARD
    assert run.time_of("finishing transcript") - run.time_of("listening locally") < 1.0


def test_unsupported_languages(binary, pulse_server):
    for locale in ("xx-YY", "../../etc"):
        run = Run(binary, args=[locale], env=env_with(pulse_server))
        status = run.finish(timeout=20)
        events = check_stream(run)
        assert status == 1, locale
        assert events == [
            {"kind": "status", "text": "requesting local speech access"},
            {"kind": "error", "text": "speech recognition is unavailable for this language"}]


def test_no_sound_server(binary, tmp_path):
    env = env_with(f"unix:{tmp_path}/no-such-socket")
    run = Run(binary, env=env)
    status = run.finish(timeout=20)
    events = check_stream(run)
    assert status == 1
    assert events == [
        {"kind": "status", "text": "requesting local speech access"},
        {"kind": "error", "text": "no microphone input is available"}]
