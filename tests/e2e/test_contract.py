"""The promises a caller relies on (event lines only, exactly one terminal line, the status that goes
with it, nothing on stderr, an end in bounded time) hold whatever the machine and the caller hand
the program: threads that cannot start, a malformed sound-client configuration, non-blocking
standard streams, standard descriptors closed at start. Speech plays in every run, so a fault that
leaves recognition intact must still give the transcript."""
import fcntl
import json
import os
import re
import resource
import signal
import subprocess
import threading
import time

import pytest

from conftest import need
from harness import Run, check_stream, env_with, play, synthesize
from reliability import NO_SPEECH, expected_status, sanitizer, slack, tally, terminal_of

SENTENCE = "please turn on the kitchen lights"
BOUND = 15.0  # seconds a run with a fault may take, start to end (times the sanitizers' slack)
HERE = os.path.dirname(os.path.abspath(__file__))


def kitchen(speech_dir):
    return synthesize(speech_dir, "kitchen", SENTENCE)


def heard(event):
    return event["kind"] == "final" and "kitchen" in event["text"]


def spoken_run(binary, server, wav, env=None, argv=None):
    """A run with stdin an open pipe nobody writes to; speech once it listens, so the pause ends
    it. Returns the run and its status; a run still going after the bound is killed and fails."""
    factor = slack(binary)
    argv = argv or [binary]
    run = Run(argv[0], argv[1:], env=env or env_with(server))
    player = None
    try:
        try:
            run.wait_for_text("listening locally", timeout=BOUND * factor)
            player = play(server, wav)
        except AssertionError:
            pass  # it ended before listening: the status and lines say how
        left = BOUND * factor - (time.monotonic() - run.started)
        status = run.ended(max(left, 0.1))
    finally:
        if player:
            player.wait(10)
    return run, status


# --- threads that cannot start ------------------------------------------------------------------

@pytest.fixture(scope="module")
def thread_fault(tmp_path_factory):
    """LD_PRELOAD entries that make the Nth pthread_create fail with EAGAIN (MIC_FAIL_THREAD=N)."""
    return build_shim(tmp_path_factory, "fail_thread_start")


def build_shim(tmp_path_factory, name):
    """Compiles tests/e2e/NAME.c into a library to preload; returns its path."""
    need("cc")
    shim = tmp_path_factory.mktemp("shim") / f"{name}.so"
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-o", str(shim),
                    os.path.join(HERE, f"{name}.c"), "-ldl"], check=True,
                   stdin=subprocess.DEVNULL)
    return str(shim)


def preload(binary, shim):
    """A sanitizer's runtime must come first in the library list; the shim then sits between its
    interceptor and libc, so the failure goes through the sanitizer's own bookkeeping."""
    if sanitizer(binary) is None:
        return shim
    libraries = subprocess.run(["ldd", binary], capture_output=True, text=True,
                               stdin=subprocess.DEVNULL).stdout
    runtime = re.search(r"=>\s*(\S*lib[at]san\.so\S*)", libraries)
    return f"{runtime.group(1)}:{shim}" if runtime else shim


def test_each_thread_that_cannot_start_ends_the_run_as_documented(binary, pulse_server,
                                                                  speech_dir, thread_fault,
                                                                  tmp_path):
    """Fail the 1st, 2nd, ... thread start until a run no longer gets that far. Each must end in
    time with one terminal line and its status; where the lost thread was not needed for
    recognition (a permission answer, the model load, the stdin reader) the transcript comes."""
    wav = kitchen(speech_dir)
    outcomes, problems = {}, []
    for n in range(1, 16):
        mark = tmp_path / f"failed-{n}"
        env = dict(env_with(pulse_server), LD_PRELOAD=preload(binary, thread_fault),
                   MIC_FAIL_THREAD=str(n), MIC_FAIL_THREAD_MARK=str(mark))
        try:
            run, status = spoken_run(binary, pulse_server, wav, env=env)
            events = check_stream(run)
            end = terminal_of(events)
            assert status == expected_status(end), (status, events)
            assert end != NO_SPEECH, events  # speech played: "nothing heard" would be false
            if not mark.exists():
                assert heard(end), events
                break
            outcomes[n] = end["text"]
        except AssertionError as failure:
            problems.append(f"thread {n}: {failure}")
            if not mark.exists():
                break
    else:
        problems.append("still failing a thread start after 15 of them")
    transcripts = sum("kitchen" in text for text in outcomes.values())
    tally("thread start failed", runs=len(outcomes) + 1, faults_injected=len(outcomes),
          transcripts=transcripts, failures=len(problems))
    assert not problems, "\n".join(problems)
    assert outcomes, "no thread start was ever failed: the shim did not take"
    # The recognizer's worker is the one thread recognition cannot do without; the others have a
    # way around their loss.
    assert transcripts, outcomes


# --- a library that ends the process -----------------------------------------------------------

@pytest.fixture(scope="module")
def giving_up(tmp_path_factory):
    """LD_PRELOAD entry that makes the speech library end the process (MIC_GIVE_UP=exit, quit,
    abort or double-free; see library_gives_up.c)."""
    return build_shim(tmp_path_factory, "library_gives_up")


# What each way of giving up must leave as the last line: the library's own last words where it
# logged them, the system's words when memory ran out, our phrase otherwise.
GIVING_UP = {
    "exit": "speech recognition failed: Cannot read the model: bad header",
    "quit": "a library ended the program: Cannot allocate memory",
    "abort": "the program was aborted",
    "double-free": "the program was aborted",
}


@pytest.mark.parametrize("how", [
    *(pytest.param(how, marks=pytest.mark.double_free) if how == "double-free" else how
      for how in GIVING_UP),
    "quit-from-outside"])
def test_a_library_that_ends_the_process_still_leaves_one_terminal_line(binary, pulse_server,
                                                                       speech_dir, giving_up,
                                                                       tmp_path, how):
    """sphinxbase's fatal errors call exit(), libpulse raises SIGQUIT when memory runs out, a failed
    assertion aborts: each run still ends with one "error" line and status 1. A SIGQUIT from
    another process (Ctrl-\\, kill -QUIT) keeps its default action, and so does the abort of a
    sanitizer that found a fault: its report, not a quiet line."""
    env = env_with(pulse_server)
    finding = how == "double-free" and sanitizer(binary) == "address"
    if how == "double-free" and sanitizer(binary) == "thread":
        pytest.skip("ThreadSanitizer does not look for double frees")
    if finding:
        reports = tmp_path / "reports"
        reports.mkdir()
        env["ASAN_OPTIONS"] = f"detect_leaks=0:abort_on_error=1:log_path={reports}/asan"
    if how in GIVING_UP:
        env.update(LD_PRELOAD=preload(binary, giving_up), MIC_GIVE_UP=how)
    # No core files from the runs that end by a signal's default action.
    limit = resource.getrlimit(resource.RLIMIT_CORE)
    resource.setrlimit(resource.RLIMIT_CORE, (0, limit[1]))
    try:
        run = Run(binary, env=env)
    finally:
        resource.setrlimit(resource.RLIMIT_CORE, limit)
    player = None
    try:
        run.wait_for_text("listening locally", timeout=BOUND * slack(binary))
        if how == "quit-from-outside":
            os.kill(run.proc.pid, signal.SIGQUIT)
        else:
            player = play(pulse_server, kitchen(speech_dir))
    except AssertionError:
        pass  # the model load gave up before listening: the lines and status say how
    status = run.ended(BOUND * slack(binary))
    if player:
        player.wait(10)
    events = run.events()
    if how == "quit-from-outside" or finding:
        expected = -signal.SIGQUIT if how == "quit-from-outside" else -signal.SIGABRT
        assert status == expected, (status, events)
        assert not [e for e in events if e["kind"] in ("final", "error")], events
        if finding:
            assert "double-free" in "".join(p.read_text() for p in reports.iterdir())
        return
    events = check_stream(run)
    assert status == 1, (status, events)
    expected = {GIVING_UP[how]}
    if how == "quit" and sanitizer(binary) == "thread":
        # ThreadSanitizer hands the signal over later, when errno no longer holds the failure.
        expected.add(GIVING_UP[how].split(":")[0])
    assert events[-1]["kind"] == "error" and events[-1]["text"] in expected, events


# --- a malformed sound-client configuration -----------------------------------------------------

@pytest.mark.parametrize("where", ["PULSE_CLIENTCONFIG", "HOME"])
def test_malformed_client_configuration_is_not_heard_on_stderr(binary, pulse_server, speech_dir,
                                                               tmp_path, where):
    """libpulse complains about a line it cannot parse on stderr, and goes on."""
    env = env_with(pulse_server)
    if where == "PULSE_CLIENTCONFIG":
        bad = tmp_path / "not-a-client.conf"
        bad.write_text("this is not a client configuration\n")
        env["PULSE_CLIENTCONFIG"] = str(bad)
    else:
        (tmp_path / ".config" / "pulse").mkdir(parents=True)
        (tmp_path / ".config" / "pulse" / "client.conf").write_text("autospawn no\n")
        env["HOME"] = str(tmp_path)
        env.pop("XDG_CONFIG_HOME", None)
    run, status = spoken_run(binary, pulse_server, kitchen(speech_dir), env=env)
    events = check_stream(run)
    assert status == 0 and heard(events[-1]), (status, events)


class Captured:
    """Lines and stderr read by hand, in the shape check_stream takes."""

    def __init__(self, lines, stderr):
        self.lines, self.stderr = lines, stderr

    def events(self):
        return [json.loads(raw) for _, raw in self.lines]


# --- non-blocking standard streams --------------------------------------------------------------

def test_non_blocking_stdin_and_a_slow_reader_of_non_blocking_stdout(binary, pulse_server,
                                                                     speech_dir):
    """O_NONBLOCK on both pipes, as event-loop callers leave them. stdin has no line yet (not its
    end); stdout starts full and is read slowly, so writes meet EAGAIN and must wait, not drop."""
    factor = slack(binary)
    stdin_r, stdin_w = os.pipe()
    out_r, out_w = os.pipe()
    for fd in (stdin_r, out_w):
        fcntl.fcntl(fd, fcntl.F_SETFL, fcntl.fcntl(fd, fcntl.F_GETFL) | os.O_NONBLOCK)
    size = fcntl.fcntl(out_w, fcntl.F_SETPIPE_SZ, 4096)
    filler = b"x" * (size - 1) + b"\n"
    os.write(out_w, filler)  # full: the first line cannot go in until we read
    env = env_with(pulse_server)
    started = time.monotonic()
    proc = subprocess.Popen([binary], stdin=stdin_r, stdout=out_w, stderr=subprocess.PIPE, env=env)
    os.close(stdin_r)
    os.close(out_w)
    received, lines = bytearray(), []

    def slow_reader():
        time.sleep(1.0)
        while True:
            try:
                chunk = os.read(out_r, 256)
            except BlockingIOError:
                chunk = None
            if chunk == b"":
                return
            if chunk:
                received.extend(chunk)
                while b"\n" in received:
                    line, _, rest = bytes(received).partition(b"\n")
                    lines.append((time.monotonic() - started, line + b"\n"))
                    received[:] = rest
            time.sleep(0.05)

    reader = threading.Thread(target=slow_reader, daemon=True)
    reader.start()
    player = None
    try:
        deadline = started + BOUND * factor
        while b"listening locally" not in b"".join(l for _, l in lines) and proc.poll() is None:
            assert time.monotonic() < deadline, lines
            time.sleep(0.05)
        player = play(pulse_server, kitchen(speech_dir))
        status = proc.wait(timeout=max(deadline - time.monotonic(), 0.1))
        stderr = proc.stderr.read()
        reader.join(10)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait(5)
        if player:
            player.wait(10)
        os.close(stdin_w)
        os.close(out_r)
    assert lines and lines[0][1] == filler, lines[:1]
    events = check_stream(Captured(lines[1:], stderr))
    assert events[0] == {"kind": "status", "text": "requesting local speech access"}, events
    assert status == 0 and heard(events[-1]), (status, events)


# --- standard descriptors closed at start -------------------------------------------------------

def descriptors_once_connected(pid, timeout):
    """Where descriptors 0 to 2 of `pid` lead, read once it holds the sound server's socket (long
    after start-up set them): the run with stdin closed lasts well under a second."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            links = {fd: os.readlink(f"/proc/{pid}/fd/{fd}") for fd in os.listdir(f"/proc/{pid}/fd")}
        except OSError:
            links = {}
        if any(link.startswith("socket:") for link in links.values()):
            return {fd: links.get(str(fd)) for fd in (0, 1, 2)}
        time.sleep(0.005)
    raise AssertionError(f"the run never connected to the sound server (descriptors {links})")


@pytest.mark.parametrize("redirection", ["<&-", ">&-", "2>&-", "<&- >&- 2>&-"])
def test_closed_standard_descriptors_become_dev_null(binary, pulse_server, speech_dir,
                                                     redirection):
    """A closed 0, 1 or 2 is /dev/null while the program runs, never a library's pipe or socket:
    closed stdin is end of input (input stops at once), closed stdout loses the lines harmlessly.
    Descriptor 2 is /dev/null in every run."""
    argv = ["sh", "-c", f'exec "$0" {redirection}', binary]
    factor = slack(binary)
    run = Run(argv[0], argv[1:], env=env_with(pulse_server))
    links = descriptors_once_connected(run.proc.pid, BOUND * factor)
    closed = redirection.split()
    player = None
    if "<&-" not in closed:
        if ">&-" not in closed:
            run.wait_for_text("listening locally", timeout=BOUND * factor)
        else:
            time.sleep(1.0 * factor)  # nothing to read: listening by then
        player = play(pulse_server, kitchen(speech_dir))
    try:
        status = run.finish(timeout=BOUND * factor)
    finally:
        if player:
            player.wait(10)
    for fd, how in ((0, "<&-"), (1, ">&-"), (2, "2>&-")):
        if how in closed or fd == 2:
            assert links[fd] == "/dev/null", (fd, links)
    assert run.stderr == b""
    expected = 2 if "<&-" in closed else 0
    assert status == expected, (status, run.events())
    if ">&-" not in closed:
        events = check_stream(run)
        assert heard(events[-1]) if expected == 0 else events[-1] == NO_SPEECH, events
