"""Hostile and odd locale arguments: each gives exactly the documented lines and status, and none
makes the program look at any file a plain "en-US" run does not (the argument is matched against the
model directory's listing, never turned into a path)."""
import os
import shutil
import subprocess

import pytest

from harness import Run, check_stream, env_with
from reliability import (FINISHING, LISTENING, MODEL_DIR, NO_SPEECH, REQUESTING, UNAVAILABLE,
                         normalized, slack, tally, touched_paths)

SUPPORTED = [
    "en-US", "en_us", "EN-us.UTF-8", "en", "EN", "en_US.UTF-8", "en_US.utf8@euro", "", "auto",
    "AUTO", "Auto", "aUtO", "C", "POSIX",
]
UNSUPPORTED = [
    # Long, and outside UTF-8.
    "x" * 100_000, "en-" + "a" * 4096, b"\xff\xfe", b"en\xc3", b"\xc0\xaf", b"en-\x80US",
    # Control characters.
    "en\nUS", "en-US\n", "\t", "\x1b[31men-US", "en\x7fUS", "\x01", "en-US\r",
    # Looks like an option.
    "--help", "-h", "--", "-", "--version", "-en-US",
    # Paths.
    "../en-us", "en-us/../en-us", "..", ".", "/", "./en-us", "en-us/", "en-us/en-us",
    MODEL_DIR + "/en-us", "/etc/passwd", "../../../../../../etc/passwd", "..\\en-us",
    "en-us\\..\\..", "C:\\Windows", "~/en-us", "%2e%2e%2fen-us",
    # Shell metacharacters: nothing may run them, so a marker file must not appear.
    "$(touch MARKER)", "`touch MARKER`", "en-US;touch MARKER", "en-US|touch MARKER",
    "en-US && touch MARKER", "*", "en-*", "?", "'", '"', "${HOME}", "en-US > MARKER", "!",
    # Valid tags with no model here, and lookalikes of supported ones.
    "fr-FR", "zh-Hans-CN", "de_DE.UTF-8", "ja", "pt-BR", "xx-YY", " en-US", "en-US ",
    "\uff45\uff4e-US", "en\u200b-US", "en\u2010US", "\u202een-US", "auto ", "autox",
]


def _arg(value, marker):
    if isinstance(value, bytes):
        return value
    return value.replace("MARKER", marker).encode()


def _label(value):
    text = value if isinstance(value, str) else value.decode("latin-1")
    text = text if len(text) < 40 else f"{text[:20]}...({len(text)} chars)"
    return repr(text)


# Read by the C library on its own schedule (malloc's trimming), whatever the argument.
LIBRARY_NOISE = {"/proc/sys/vm/overcommit_memory"}


# The display text's word list is read on the model's loading thread, which a run stopped at once
# reaches or not by timing (a sanitizer build often does not): like the model, it is the program's
# own data, named by the program and never by the argument.
WORD_LIST = "/usr/share/dict/american-english"


def program_data(path):
    return path == WORD_LIST or (path.startswith(MODEL_DIR + "/") and ".." not in path.split("/"))


CASES = [(v, True) for v in SUPPORTED] + [(v, False) for v in UNSUPPORTED]


def need_strace():
    if shutil.which("strace") is None:
        pytest.skip("strace is not installed (scripts/install-deps.sh --test installs it)")


def traced(binary, arg, log, env, cwd):
    """A run of the binary under `strace -e trace=%file`, started in `cwd`."""
    need_strace()
    return Run("sh", ["-c", 'cd "$0" && exec strace -f -qq -s 4096 -e trace=%file -o "$1" "$2" "$3"',
                      str(cwd), str(log), binary, arg], env=env, stdin=subprocess.DEVNULL)


@pytest.fixture(scope="module")
def baseline_paths(binary, pulse_server, tmp_path_factory):
    """What a plain "en-US" run touches, twice over so run-to-run noise is in the set."""
    paths = set()
    for attempt in range(2):
        where = tmp_path_factory.mktemp("baseline")
        run = traced(binary, b"en-US", where / "strace.log", env_with(pulse_server), where)
        assert run.finish(timeout=60 * slack(binary)) == 2, run.events()
        paths |= {normalized(p) for p in touched_paths(where / "strace.log")}
    return paths


@pytest.mark.parametrize("value,supported", CASES, ids=[_label(v) for v, _ in CASES])
def test_locale_argument(binary, pulse_server, baseline_paths, tmp_path, value, supported):
    marker = str(tmp_path / "ran-by-a-shell")
    arg = _arg(value, marker)
    log = tmp_path / "strace.log"
    cwd = tmp_path / "cwd"
    cwd.mkdir()
    env = env_with(pulse_server)
    # The working directory holds a decoy model named after a traversal target.
    os.makedirs(cwd / "en-us", exist_ok=True)
    run = traced(binary, arg, log, env, cwd)
    status = run.finish(timeout=60 * slack(binary))
    events = check_stream(run)
    expected = ([REQUESTING, LISTENING, FINISHING, NO_SPEECH], 2) if supported else (
        [REQUESTING, UNAVAILABLE], 1)
    outside = sorted(p for p in touched_paths(log)
                     if normalized(p) not in baseline_paths and not program_data(p)
                     and p not in LIBRARY_NOISE)
    printable = arg.decode("ascii", "replace")
    echoed = [p for p in touched_paths(log)
              if len(printable) >= 3 and printable.isprintable() and printable in p
              and not any(printable in b for b in baseline_paths)]
    wrong = (events, status) != expected or outside or echoed or os.path.exists(marker)
    tally("locale arguments", inputs_tried=1, supported=int(supported), failures=int(bool(wrong)))
    assert (events, status) == expected
    assert not outside, f"paths a plain en-US run never touches: {outside}"
    assert not echoed, f"paths containing the argument: {echoed}"
    assert not os.path.exists(marker), "a shell ran part of the argument"


@pytest.mark.parametrize("lang,supported", [
    ("fr_FR.UTF-8", False), ("../../../etc", False), ("/usr/share/pocketsphinx/model/en-us", False),
    ("en_US.UTF-8", True), ("C", True)])
def test_current_locale_from_the_environment(binary, pulse_server, lang, supported):
    """"auto" takes the user's locale from the environment: hostile values there fail the same way."""
    env = dict(env_with(pulse_server), LANG=lang)
    env.pop("LC_ALL", None)
    env.pop("LC_MESSAGES", None)
    run = Run(binary, ["auto"], env=env, stdin=subprocess.DEVNULL)
    status = run.finish(timeout=60 * slack(binary))
    events = check_stream(run)
    tally("environment locales", inputs_tried=1, failures=int(status != (2 if supported else 1)))
    if supported:
        assert (events, status) == ([REQUESTING, LISTENING, FINISHING, NO_SPEECH], 2)
    else:
        assert (events, status) == ([REQUESTING, UNAVAILABLE], 1)


def test_further_arguments_are_ignored(binary, pulse_server):
    run = Run(binary, ["fr-FR", "en-US", "--help"], env=env_with(pulse_server),
              stdin=subprocess.DEVNULL)
    assert run.finish(timeout=60 * slack(binary)) == 1
    assert check_stream(run) == [REQUESTING, UNAVAILABLE]
    run = Run(binary, ["en-US", "../../etc/passwd", "\xff"], env=env_with(pulse_server),
              stdin=subprocess.DEVNULL)
    assert run.finish(timeout=60 * slack(binary)) == 2
    assert check_stream(run) == [REQUESTING, LISTENING, FINISHING, NO_SPEECH]


def test_trace_parsing_sees_what_the_path_check_needs(tmp_path):
    """The path check can fail: a traversal out of the model directory is neither inside it nor
    hidden by digit normalization, and every call naming a path is read."""
    log = tmp_path / "log"
    log.write_text(
        '7 openat(AT_FDCWD, "/usr/share/pocketsphinx/model/../../../etc/passwd", O_RDONLY) = 3\n'
        '7 newfstatat(AT_FDCWD, "fr-FR", 0x7ffd, 0) = -1 ENOENT (No such file or directory)\n'
        '8 access("/etc/ld.so.preload", R_OK) = -1 ENOENT (No such file or directory)\n'
        '8 <... openat resumed>) = 4\n'
        '8 openat(AT_FDCWD, "/dev/shm/pulse-shm-1234", O_RDWR) = 5\n')
    paths = touched_paths(log)
    assert paths == {"/usr/share/pocketsphinx/model/../../../etc/passwd", "fr-FR",
                     "/etc/ld.so.preload", "/dev/shm/pulse-shm-1234"}
    assert not program_data("/usr/share/pocketsphinx/model/../../../etc/passwd")
    assert program_data(MODEL_DIR + "/en-us/en-us/mdef")
    assert not program_data("/usr/share/dict/../../../etc/passwd")
    assert normalized("/dev/shm/pulse-shm-1234") == normalized("/dev/shm/pulse-shm-987")
