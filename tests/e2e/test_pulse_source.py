"""PULSE_SOURCE picks the microphone, as it does for every libpulse client: the program records the
source it names, not the server's default; a name the server does not know is no microphone."""
import os
import subprocess
import time

import pytest

from harness import Run, check_stream, env_with, play, synthesize, word_error_rate
from reliability import NO_MICROPHONE, REQUESTING, private_mic, slack

pytestmark = pytest.mark.core

CHOSEN = "the quick brown fox jumps over the lazy dog"
DEFAULT = "please turn on the kitchen lights"
MAX_WER = 0.34


def second_microphone(mic):
    """A second sink and the microphone that hears it, kept awake as the first one is. Returns the
    keep-alive player, which the caller stops."""
    for args in (("module-null-sink", "sink_name=vspk2", "rate=16000", "channels=1"),
                 ("module-remap-source", "source_name=vmic2", "master=vspk2.monitor")):
        loaded = mic.pactl("load-module", *args)
        assert loaded.returncode == 0, loaded.stderr
    env = dict(os.environ, PULSE_SERVER=mic.server)
    keepalive = subprocess.Popen(["pacat", "-p", "-d", "vspk2", "--latency-msec=20", "--raw",
                                  "--format=s16le", "--rate=16000", "--channels=1"],
                                 stdin=open(os.devnull, "rb"), stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL, env=env)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        heard = subprocess.run(["timeout", "3", "parec", "-d", "vmic2", "--latency-msec=20", "--raw",
                                "--format=s16le", "--rate=16000", "--channels=1"],
                               stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                               stderr=subprocess.DEVNULL, env=env)
        if len(heard.stdout) >= 3200:
            return keepalive
    keepalive.kill()
    pytest.skip("the second virtual microphone delivered no audio")


@pytest.mark.parametrize("source", ["vmic2", "no-such-source"])
def test_pulse_source_names_the_microphone(binary, speech_dir, tmp_path, source):
    factor = slack(binary)
    chosen = synthesize(speech_dir, "fox", CHOSEN)
    other = synthesize(speech_dir, "lights", DEFAULT)
    with private_mic(tmp_path / "vmic") as mic:
        keepalive = second_microphone(mic)
        try:
            run = Run(binary, env=dict(env_with(mic.server), PULSE_SOURCE=source))
            if source == "no-such-source":
                status = run.ended(20 * factor)
            else:
                run.wait_for_text("listening locally", timeout=20 * factor)
                # Each microphone hears its own sentence at once; only the chosen one may count.
                players = [play(mic.server, other),
                           subprocess.Popen(["paplay", "-d", "vspk2", chosen],
                                            env=dict(os.environ, PULSE_SERVER=mic.server),
                                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)]
                status = run.ended(40 * factor)
                for player in players:
                    player.wait(20)
        finally:
            keepalive.kill()
            keepalive.wait(5)
    events = check_stream(run)
    if source == "no-such-source":
        assert events == [REQUESTING, NO_MICROPHONE] and status == 1, (status, events)
    else:
        assert status == 0 and events[-1]["kind"] == "final", (status, events)
        assert word_error_rate(CHOSEN, events[-1]["text"]) <= MAX_WER, events[-1]["text"]
