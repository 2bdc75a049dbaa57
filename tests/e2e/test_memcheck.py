"""One speech run under valgrind's memcheck: no invalid read, write, jump or free anywhere in our
threads or the libraries they drive. Plain build only (marked "valgrind"): memcheck cannot run a
sanitizer build."""
import re
import shutil
import subprocess

import pytest

from harness import Run, check_stream, env_with, play, synthesize
from reliability import sanitizer, tally

MEMCHECK_FAILED = 99


@pytest.mark.valgrind
def test_speech_run_under_memcheck(binary, pulse_server, speech_dir, tmp_path):
    if shutil.which("valgrind") is None:
        pytest.skip("valgrind is not installed (scripts/install-deps.sh --test installs it)")
    if sanitizer(binary):
        pytest.skip(f"memcheck cannot run a {sanitizer(binary)}-sanitizer build")
    wav = synthesize(speech_dir, "memcheck", "turn on the kitchen light")
    log = tmp_path / "memcheck.log"
    # Valgrind's own report goes to a file so the program's stderr is still checked empty.
    run = Run("valgrind", [f"--error-exitcode={MEMCHECK_FAILED}", "--leak-check=no",
                           f"--log-file={log}", binary], env=env_with(pulse_server))
    try:
        run.wait_for_text("listening locally", timeout=180)
        player = play(pulse_server, wav)
        player.wait(30)
        # Decoding runs tens of times slower here: if the pause has not ended it, a line does.
        try:
            run.finish(timeout=30)
        except subprocess.TimeoutExpired:
            run.send_line()
        status = run.finish(timeout=240)
    finally:
        if run.proc.poll() is None:
            run.proc.kill()
    report = log.read_text(errors="replace")
    errors = re.findall(r"ERROR SUMMARY: (\d+) errors", report)
    tally("memcheck", runs=1, errors=int(errors[-1]) if errors else -1)
    events = check_stream(run)
    assert status != MEMCHECK_FAILED and errors and errors[-1] == "0", report[-4000:]
    assert status in (0, 2) and (status == 0) == (events[-1]["kind"] == "final"), events
