"""Fifty runs back to back, speech and silence in turn: every one ends with exactly one terminal line,
the right status and nothing on stderr. Plain build only (marked "soak")."""
import time

import pytest

from harness import Run, check_stream, env_with, play, synthesize, word_error_rate
from reliability import NO_SPEECH, slack, tally

RUNS = 50
SENTENCES = ["turn on the light", "what time is it", "call my mother", "open the door please",
             "play some music"]


@pytest.mark.soak
def test_fifty_runs_speech_and_silence_in_turn(binary, pulse_server, speech_dir):
    factor = slack(binary)
    wavs = [synthesize(speech_dir, f"soak-{i}", s) for i, s in enumerate(SENTENCES)]
    problems, rates = [], []
    started = time.monotonic()
    for attempt in range(RUNS):
        speech = attempt % 2 == 0
        run, player = Run(binary, env=env_with(pulse_server)), None
        try:
            run.wait_for_text("listening locally", timeout=30 * factor)
            if speech:
                sentence = SENTENCES[(attempt // 2) % len(SENTENCES)]
                player = play(pulse_server, wavs[SENTENCES.index(sentence)])
            else:
                time.sleep(1.0)
                run.close_stdin()
            status = run.finish(timeout=40 * factor)
            events = check_stream(run)
            if speech:
                assert status == 0 and events[-1]["kind"] == "final", events
                rates.append(word_error_rate(sentence, events[-1]["text"]))
            else:
                assert status == 2 and events[-1] == NO_SPEECH, events
        except Exception as failure:  # keep going: the soak reports every bad run at once
            problems.append(f"run {attempt} ({'speech' if speech else 'silence'}): {failure!r}")
        finally:
            if run.proc.poll() is None:
                run.proc.kill()
            if player:
                player.wait(10)
    mean = sum(rates) / len(rates) if rates else 1.0
    tally("soak", runs=RUNS, failures=len(problems), seconds=round(time.monotonic() - started),
          mean_wer_percent=round(100 * mean))
    assert not problems, "\n".join(problems)
    # One bad decode is noise; a soak that drifts into nonsense is not.
    assert mean <= 0.34, rates
