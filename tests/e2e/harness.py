"""What the end-to-end suite and the benchmark share: runs of the real binary, synthesized speech
played into the virtual microphone, the check every event stream passes, and the word error rate.
A plain module (no pytest needed), so that bench/run.py imports it as the tests do."""
import json
import os
import re
import subprocess
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SINK = "vspk"


def unavailable(reason):
    """Skips the test when pytest runs it; anywhere else (the benchmark) it is an error."""
    try:
        import pytest
    except ImportError:
        raise RuntimeError(reason) from None
    pytest.skip(reason)


def synthesize(directory, name, text):
    """flite's slt voice at 16 kHz mono; espeak voices are unrecognizable to the model."""
    raw = os.path.join(directory, name + "-raw.wav")
    out = os.path.join(directory, name + ".wav")
    if not os.path.exists(out):
        subprocess.run(["flite", "-voice", "slt", "-t", text, "-o", raw], check=True,
                       stdin=subprocess.DEVNULL)
        subprocess.run(["sox", raw, "-r", "16000", "-c", "1", "-b", "16", out], check=True,
                       stdin=subprocess.DEVNULL)
    return out


class Run:
    """One run of the real binary, its stdin an open pipe we control, its stdout read line by line."""

    def __init__(self, binary, args=(), env=None, stdin=subprocess.PIPE, preexec_fn=None):
        self.started = time.monotonic()
        self.proc = subprocess.Popen([binary, *args], stdin=stdin, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE, env=env, preexec_fn=preexec_fn)
        self.lines = []  # (seconds since start, raw line)
        self._cond = threading.Condition()
        self._reader = threading.Thread(target=self._read, daemon=True)
        self._reader.start()
        self._stderr = b""
        self._err_reader = threading.Thread(target=self._read_err, daemon=True)
        self._err_reader.start()

    def _read(self):
        for raw in self.proc.stdout:
            with self._cond:
                self.lines.append((time.monotonic() - self.started, raw))
                self._cond.notify_all()
        with self._cond:
            self._cond.notify_all()

    def _read_err(self):
        self._stderr = self.proc.stderr.read()

    def wait_for_text(self, text, timeout=20):
        deadline = time.monotonic() + timeout
        with self._cond:
            while not any(json.loads(r).get("text") == text for _, r in self.lines):
                remaining = deadline - time.monotonic()
                if remaining <= 0 or self.proc.poll() is not None and not self._reader.is_alive():
                    raise AssertionError(f"no {text!r} line; got {self.events()}")
                self._cond.wait(remaining)

    def send_line(self):
        self.proc.stdin.write(b"stop\n")
        self.proc.stdin.flush()

    def close_stdin(self):
        self.proc.stdin.close()

    def finish(self, timeout=90):
        status = self.proc.wait(timeout=timeout)
        self._reader.join(5)
        self._err_reader.join(5)
        if self.proc.stdin and not self.proc.stdin.closed:
            self.proc.stdin.close()
        return status

    def ended(self, timeout):
        """The status; a run still going after `timeout` s is killed and reported with its lines."""
        try:
            return self.finish(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.finish(timeout=10)
            raise AssertionError(f"still running after {timeout:.0f} s; wrote {self.events()}")

    def events(self):
        return [json.loads(raw) for _, raw in self.lines]

    def time_of(self, text):
        return next(t for t, raw in self.lines if json.loads(raw).get("text") == text)

    @property
    def stderr(self):
        return self._stderr


EVENT_SCHEMA = os.path.join(HERE, "..", "..", "doc", "event-line.schema.json")
_event_validator = None


def schema_errors(event):
    """What doc/event-line.schema.json finds wrong with one decoded event line; empty when valid."""
    global _event_validator
    if _event_validator is None:
        try:
            import jsonschema
        except ImportError:
            unavailable("python3-jsonschema is not installed (install-deps.sh --test)")
        with open(EVENT_SCHEMA, encoding="utf-8") as f:
            _event_validator = jsonschema.Draft202012Validator(json.load(f))
    return [error.message for error in _event_validator.iter_errors(event)]


def check_stream(run):
    """Every line is one compact JSON object with exactly kind and text; exactly one terminal line,
    last; nothing on stderr."""
    assert run.stderr == b"", run.stderr
    kinds = []
    for _, raw in run.lines:
        assert raw.endswith(b"\n") and not raw.endswith(b"\r\n")
        event = json.loads(raw)
        assert set(event) == {"kind", "text"}, event
        assert event["kind"] in ("status", "partial", "final", "error"), event
        assert isinstance(event["text"], str)
        assert not schema_errors(event), (event, schema_errors(event))
        kinds.append(event["kind"])
    assert kinds, "no output at all"
    terminal = [k for k in kinds if k in ("final", "error")]
    assert len(terminal) == 1 and kinds[-1] in ("final", "error"), kinds
    return run.events()


def play(server, wav):
    env = dict(os.environ, PULSE_SERVER=server)
    return subprocess.Popen(["paplay", "-d", SINK, wav], env=env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def env_with(server):
    return dict(os.environ, PULSE_SERVER=server, LANG="en_US.UTF-8")


_UNITS = "zero one two three four five six seven eight nine ten eleven twelve thirteen fourteen " \
    "fifteen sixteen seventeen eighteen nineteen".split()
_TENS = "_ _ twenty thirty forty fifty sixty seventy eighty ninety".split()
_ORDINALS = {"one": "first", "two": "second", "three": "third", "five": "fifth", "eight": "eighth",
             "nine": "ninth", "twelve": "twelfth"}
_MONTHS = ("january february march april may june july august september october november "
           "december").split()


def _cardinal(n):
    if n < 20:
        return [_UNITS[n]]
    if n < 100:
        return [_TENS[n // 10]] + (_cardinal(n % 10) if n % 10 else [])
    for scale, name in ((10**9, "billion"), (10**6, "million"), (1000, "thousand"), (100, "hundred")):
        if n >= scale:
            return _cardinal(n // scale) + [name] + (_cardinal(n % scale) if n % scale else [])
    return []


def _ordinal(n):
    spoken = _cardinal(n)
    last = spoken[-1]
    if last in _ORDINALS:
        spoken[-1] = _ORDINALS[last]
    elif last.endswith("y"):
        spoken[-1] = last[:-1] + "ieth"
    else:
        spoken[-1] = last + "th"
    return spoken


def _number(digits):
    """A written number as it is said: years in pairs, the rest as a cardinal."""
    n = int(digits.replace(",", ""))
    if "," not in digits and (1100 <= n < 2000 or 2010 <= n < 2100):
        return _cardinal(n // 100) + (["hundred"] if n % 100 == 0 else
                                      ["oh", _UNITS[n % 100]] if n % 100 < 10 else
                                      _cardinal(n % 100))
    return _cardinal(n)


def spoken(text):
    """Display text turned back into the words a speaker said ("$5.50" -> five dollars and fifty
    cents, "3:30 PM" -> three thirty p m, "21st" -> twenty first), so that word errors compare the
    recognizer's words, not how they are written."""
    out = []
    for token in text.split():
        previous = out[-1] if out else ""
        money = re.fullmatch(r"\$([\d,]+)(?:\.(\d\d))?", token)
        time_of_day = re.fullmatch(r"(\d{1,2}):(\d\d)", token)
        ordinal = re.fullmatch(r"([\d,]+)(?:st|nd|rd|th)", token)
        decimal = re.fullmatch(r"([\d,]+)\.(\d+)(%?)", token)
        number = re.fullmatch(r"([\d,]+)(%?)", token)
        if money:
            out += _number(money.group(1)) + ["dollars"]
            if money.group(2):
                out += ["and"] + _cardinal(int(money.group(2))) + ["cents"]
        elif time_of_day:
            minutes = int(time_of_day.group(2))
            out += _cardinal(int(time_of_day.group(1))) + (
                ["oh", _UNITS[minutes]] if minutes < 10 else _cardinal(minutes))
        elif ordinal:
            out += _ordinal(int(ordinal.group(1).replace(",", "")))
        elif decimal:
            out += _number(decimal.group(1)) + ["point"] + [_UNITS[int(d)] for d in decimal.group(2)]
            out += ["percent"] if decimal.group(3) else []
        elif number and previous.lower() in _MONTHS and 1 <= int(number.group(1)) <= 31:
            out += _ordinal(int(number.group(1)))
        elif number:
            out += _number(number.group(1)) + (["percent"] if number.group(2) else [])
        elif token in ("AM", "PM"):
            out += [token[0].lower(), "m"]
        else:
            out.append(token)
    return " ".join(out)


def words(text):
    return re.findall(r"[a-z0-9']+", spoken(text).lower())


def word_error_rate(reference, hypothesis):
    """The word error rate of every test and benchmark here (tests/recognizer/pocketsphinx/
    pocketsphinx_wer.h computes the same in C++ on the recognizer's raw words): the word-level edit
    distance (substitutions, deletions, insertions) between the two texts, turned back into spoken
    words, lower-cased, with everything but letters, digits and apostrophes a separator, divided by the reference's word count, or by 1 when the reference
    has no words (each word heard is then one error)."""
    ref, hyp = words(reference), words(hypothesis)
    previous = list(range(len(hyp) + 1))
    for i, r in enumerate(ref, 1):
        current = [i] + [0] * len(hyp)
        for j, h in enumerate(hyp, 1):
            current[j] = min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (r != h))
        previous = current
    return previous[-1] / max(len(ref), 1)
