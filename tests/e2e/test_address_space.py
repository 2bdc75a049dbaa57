"""A limit on the process's address space (ulimit -v, prlimit --as, as sandboxes and shared hosts
set): with room for what the program needs it transcribes as without one; below, it ends with one
"error" line naming what ran out, never a missing microphone or language. Plain build only: the
sanitizers reserve terabytes of shadow memory."""
import resource

import pytest

from harness import Run, check_stream, env_with, play, synthesize, word_error_rate
from reliability import NO_MICROPHONE, UNAVAILABLE, slack

pytestmark = pytest.mark.address_space

SENTENCE = "the quick brown fox jumps over the lazy dog"
MAX_WER = 0.34
MIB = 1 << 20


@pytest.mark.parametrize("limit_mib", [300, 100, 60])
def test_address_space_limit(binary, pulse_server, speech_dir, limit_mib):
    factor = slack(binary)
    wav = synthesize(speech_dir, "fox", SENTENCE)

    def limited():
        resource.setrlimit(resource.RLIMIT_AS, (limit_mib * MIB, limit_mib * MIB))

    run = Run(binary, env=env_with(pulse_server), preexec_fn=limited)
    player = None
    if limit_mib >= 300:
        run.wait_for_text("listening locally", timeout=20 * factor)
        player = play(pulse_server, wav)
    status = run.ended(40 * factor)
    if player:
        player.wait(20)
    events = check_stream(run)
    if limit_mib >= 300:
        assert status == 0 and events[-1]["kind"] == "final", (status, events)
        assert word_error_rate(SENTENCE, events[-1]["text"]) <= MAX_WER, events[-1]["text"]
    else:
        assert status == 1 and events[-1]["kind"] == "error", (status, events)
        assert events[-1] not in (NO_MICROPHONE, UNAVAILABLE), events
