"""Audio never leaves the machine: checked, not assumed. A run transcribes with no network at all,
and a traced run opens no internet socket of any kind."""
import shutil

import pytest

from harness import Run, check_stream, env_with, play, synthesize, word_error_rate
from reliability import need_namespace, slack, socket_calls, tally

SENTENCE = "the quick brown fox jumps over the lazy dog"
MAX_WER = 0.34  # as for any transcript of flite's voice


def transcribe(argv, pulse_server, wav, factor):
    run = Run(argv[0], argv[1:], env=env_with(pulse_server))
    try:
        run.wait_for_text("listening locally", timeout=30 * factor)
        player = play(pulse_server, wav)
        status = run.finish(timeout=60 * factor)
        player.wait(10)
    finally:
        if run.proc.poll() is None:
            run.proc.kill()
    return status, check_stream(run)


def test_transcribes_with_no_network_at_all(binary, pulse_server, speech_dir):
    """In a network namespace of its own there is only a loopback that is down; the sound server's
    unix socket still works, and so must everything else."""
    need_namespace("-n")
    wav = synthesize(speech_dir, "fox", SENTENCE)
    status, events = transcribe(["unshare", "-n", binary], pulse_server, wav, slack(binary))
    tally("no network namespace", runs=1, failures=int(status != 0))
    assert status == 0 and events[-1]["kind"] == "final", events
    assert word_error_rate(SENTENCE, events[-1]["text"]) <= MAX_WER, events[-1]["text"]


def test_no_internet_socket_during_a_whole_run(binary, pulse_server, speech_dir, tmp_path):
    if shutil.which("strace") is None:
        pytest.skip("strace is not installed (scripts/install-deps.sh --test installs it)")
    wav = synthesize(speech_dir, "fox", SENTENCE)
    log = tmp_path / "sockets.log"
    argv = ["strace", "-f", "-qq", "-e", "trace=socket,connect,bind", "-o", str(log), binary]
    status, events = transcribe(argv, pulse_server, wav, slack(binary))
    calls = socket_calls(log)
    families = sorted({family for _, family in calls})
    internet = [c for c in calls if c[1] in ("AF_INET", "AF_INET6")]
    tally("socket calls traced", runs=1, calls=len(calls), internet=len(internet))
    assert status == 0 and events[-1]["kind"] == "final", events
    # The trace must have seen the sound server's connection, or it proves nothing.
    assert ("connect", "AF_UNIX") in calls, calls
    assert not internet, f"internet sockets: {internet}"
    assert families == ["AF_UNIX"], families


def test_strace_log_parsing_finds_internet_sockets(tmp_path):
    """The socket check above can fail: it recognizes the lines an internet socket leaves."""
    log = tmp_path / "log"
    log.write_text(
        '101 socket(AF_INET6, SOCK_STREAM|SOCK_CLOEXEC, IPPROTO_IP) = 5\n'
        '101 connect(5, {sa_family=AF_INET, sin_port=htons(443), '
        'sin_addr=inet_addr("1.2.3.4")}, 16) = 0\n'
        '102 socket(AF_UNIX, SOCK_STREAM|SOCK_CLOEXEC, 0) = 6\n'
        '102 connect(6, {sa_family=AF_UNIX, sun_path="/tmp/x/native"}, 110) = 0\n')
    assert socket_calls(log) == [("socket", "AF_INET6"), ("connect", "AF_INET"),
                                 ("socket", "AF_UNIX"), ("connect", "AF_UNIX")]
