"""The documentation against the program: the manual page, README, the consumer examples, the event
schema and what `cmake --install` puts where."""
import gzip
import json
import os
import re
import shutil
import stat
import subprocess
import sys
import tempfile

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
MANPAGE = os.path.join(ROOT, "doc", "mic-transcriber.1")
SCHEMA = os.path.join(ROOT, "doc", "event-line.schema.json")
README = os.path.join(ROOT, "README.md")
EXAMPLES = os.path.join(ROOT, "doc", "examples")
STAND_IN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "stand_in.sh")
SESSION_SOURCES = os.path.join(ROOT, "src", "session")


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def need(tool):
    if shutil.which(tool) is None:
        pytest.skip(f"{tool} is not installed (scripts/install-deps.sh --test installs it)")


def schema():
    with open(SCHEMA, encoding="utf-8") as f:
        return json.load(f)


def fixed_texts(kind):
    """Every text the schema names outright (const or enum) for one kind of event."""
    found = []

    def collect(node):
        if isinstance(node, dict):
            if "const" in node:
                found.append(node["const"])
            found.extend(node.get("enum", []))
            for value in node.values():
                collect(value)
        elif isinstance(node, list):
            for value in node:
                collect(value)

    for rule in schema()["allOf"]:
        if rule["if"]["properties"]["kind"]["const"] == kind:
            collect(rule["then"]["properties"]["text"])
    return found


def validator():
    jsonschema = pytest.importorskip(
        "jsonschema", reason="python3-jsonschema is not installed (install-deps.sh --test)")
    # A schema that is not itself valid would check nothing for the callers who rely on it.
    jsonschema.Draft202012Validator.check_schema(schema())
    return jsonschema.Draft202012Validator(schema())


def rendered_manpage():
    """The page as plain text on very long lines, so that no phrase is broken or hyphenated."""
    need("groff")
    out = subprocess.run(["groff", "-man", "-Tascii", "-rLL=3000n", "-P-cbou", MANPAGE],
                         capture_output=True, text=True, check=True)
    return out.stdout


def one_line(text):
    return re.sub(r"\s+", " ", text)


def section(text, title):
    """The body of one top-level section of the rendered page."""
    match = re.search(rf"^{re.escape(title)}\n(.*?)(?=^[A-Z][A-Z ]+\n|\Z)", text, re.M | re.S)
    assert match, f"no {title} section"
    return one_line(match.group(1))


# --- The event schema against the program's own texts ---------------------------------------

def session_literals():
    """(kind, text, is_prefix) for each fixed text the session passes to emit_ or fail."""
    literal = r'"((?:[^"\\]|\\.)*)"'
    found = []
    for name in sorted(os.listdir(SESSION_SOURCES)):
        if not name.endswith(".cpp"):
            continue
        source = read(os.path.join(SESSION_SOURCES, name))
        for m in re.finditer(rf"\bemit_\(\s*{literal}\s*,\s*{literal}\s*(\+?)", source):
            found.append((m.group(1), m.group(2), m.group(3) == "+"))
        for m in re.finditer(rf"\bfail\(\s*{literal}\s*(\+?)", source):
            found.append(("error", m.group(1), m.group(2) == "+"))
    return found


class TestSchemaMatchesTheProgram:
    def test_the_session_writes_fixed_texts_at_all(self):
        # Guards the two tests below against a parser that silently finds nothing.
        kinds = {kind for kind, _, _ in session_literals()}
        assert {"status", "error"} <= kinds

    def test_every_fixed_text_the_session_writes_is_in_the_schema(self):
        check = validator()
        for kind, text, is_prefix in session_literals():
            if is_prefix:
                reason = "Device or resource busy"
                assert check.is_valid({"kind": kind, "text": text + reason}), text
                assert not check.is_valid({"kind": kind, "text": text}), text
            else:
                assert text in fixed_texts(kind), (kind, text)

    def test_every_fixed_text_in_the_schema_is_one_the_session_writes(self):
        written = {(kind, text) for kind, text, prefix in session_literals() if not prefix}
        for kind in ("status", "error"):
            for text in fixed_texts(kind):
                assert (kind, text) in written, (kind, text)


# --- The manual page ------------------------------------------------------------------------

class TestManualPage:
    def test_renders_without_warnings(self):
        need("groff")
        checked = subprocess.run(["groff", "-man", "-ww", "-z", MANPAGE], capture_output=True,
                                 text=True)
        assert checked.returncode == 0 and checked.stderr == "", checked.stderr

    def test_man_shows_it_without_warnings(self):
        need("man")
        shown = subprocess.run(["man", "--warnings", "-E", "UTF-8", "-l", MANPAGE],
                               capture_output=True, text=True, env=dict(os.environ, MANWIDTH="80"))
        assert shown.returncode == 0 and shown.stderr == "", shown.stderr
        assert "SYNOPSIS" in shown.stdout

    def test_documents_every_event_of_the_catalogue(self):
        output = section(rendered_manpage(), "OUTPUT")
        for kind in ("status", "partial", "final", "error"):
            assert f" {kind} " in f" {output} ", kind
        for kind in ("status", "error"):
            for text in fixed_texts(kind):
                assert text in output, text
        assert "microphone could not start: description" in output

    def test_exit_statuses(self):
        statuses = section(rendered_manpage(), "EXIT STATUS")
        assert re.search(r"\b0 a transcript was produced; the last line is final\b", statuses)
        assert re.search(r"\b1 the run failed; the last line is an error\b", statuses)
        assert re.search(r"\b2 nothing was heard; the last line is the error no speech was "
                         r"detected\b", statuses)

    def test_stop_rules_and_their_timings(self):
        stopping = section(rendered_manpage(), "STOPPING")
        for phrase in ("more than 1.4 seconds after words were heard", "every 0.2 seconds",
                       "a line, or the end of input, on standard input",
                       "60 seconds after the microphone started", "up to 2 seconds"):
            assert phrase in stopping, phrase

    def test_locale_argument_and_models(self):
        page = rendered_manpage()
        arguments = section(page, "ARGUMENTS")
        assert "auto in any letter case: the current locale" in arguments
        models = section(page, "LANGUAGES AND MODELS")
        for phrase in ("name/name/ acoustic model", "name/name.lm.bin language model",
                       "name/cmudict-name.dict pronunciation dictionary",
                       "without regard to letter case and with _ and - alike",
                       "A POSIX codeset or modifier is ignored",
                       "A bare language such as en finds the one model of that language",
                       "LC_ALL, LC_MESSAGES, LANG; when none is set, or it is C or POSIX, "
                       "English (US) is used"):
            assert phrase in models, phrase

    def test_on_device_promise(self):
        privacy = section(rendered_manpage(), "PRIVACY")
        assert "no audio or text is sent over the network" in privacy
        assert "keeps no files" in privacy
        assert "standard error" in section(rendered_manpage(), "OUTPUT")

    def test_example_stream_is_a_valid_run(self):
        examples = rendered_manpage().split("\nEXAMPLES\n", 1)[1]
        lines = [line.strip() for line in examples.splitlines() if line.strip().startswith("{")]
        check_example_stream(lines)

    def test_jq_filters_in_the_examples_pick_the_right_line(self):
        need("jq")
        filters = re.findall(r"jq -r '([^']*)'", rendered_manpage())
        assert filters
        streams = {
            "final": (STREAMS["transcript"][0], "AC/DC \"live\" naïve café\n"),
            "error": (STREAMS["failure"][0], "microphone could not start: Device or resource "
                                             "busy\n"),
        }
        for jq_filter in filters:
            kind = re.search(r'\.kind == "(\w+)"', jq_filter).group(1)
            events, expected = streams[kind]
            out = subprocess.run(["jq", "-r", jq_filter], input=events, capture_output=True,
                                 text=True, encoding="utf-8")
            assert out.returncode == 0 and out.stdout == expected, (jq_filter, out)


def check_example_stream(lines):
    """Lines shown as a run's output: valid events, a start line, and exactly one outcome, last."""
    check = validator()
    events = [json.loads(line) for line in lines]
    assert events, "no example output found"
    for event in events:
        assert check.is_valid(event), event
    assert events[0] == {"kind": "status", "text": "requesting local speech access"}
    outcomes = [e for e in events if e["kind"] in ("final", "error")]
    assert outcomes == [events[-1]], events


# --- The consumer examples ------------------------------------------------------------------

STREAMS = {
    # name: (what the program writes, its exit status, what every example prints)
    "transcript": (
        '{"kind":"status","text":"requesting local speech access"}\n'
        '{"text":"listening locally","kind":"status"}\n'
        '{"kind":"partial","text":"naïve"}\n'
        '{"kind":"partial","text":""}\n'
        '{"kind":"partial","text":"AC\\/DC \\"live\\" naïve café "}\n'
        '{"kind":"status","text":"finishing transcript"}\n'
        '{"kind":"final","text":"AC\\/DC \\"live\\" naïve café"}\n',
        0,
        "(requesting local speech access)\n(listening locally)\nhearing: naïve\nhearing: \n"
        "hearing: AC/DC \"live\" naïve café \n(finishing transcript)\n"
        "transcript: AC/DC \"live\" naïve café\n",
    ),
    "nothing heard": (
        '{"kind":"status","text":"requesting local speech access"}\n'
        '{"kind":"status","text":"listening locally"}\n'
        '{"kind":"status","text":"finishing transcript"}\n'
        '{"kind":"error","text":"no speech was detected"}\n',
        2,
        "(requesting local speech access)\n(listening locally)\n(finishing transcript)\n"
        "error: no speech was detected\n",
    ),
    "failure": (
        '{"kind":"status","text":"requesting local speech access"}\n'
        '{"kind":"error","text":"microphone could not start: Device or resource busy"}\n',
        1,
        "(requesting local speech access)\nerror: microphone could not start: Device or "
        "resource busy\n",
    ),
}

CONSUMERS = {
    "consume.sh": (("bash",), "bash", "jq"),
    "consume.py": ((sys.executable,), "python", None),
    "consume.js": (("node",), "javascript", "node"),
}


def run_example(name, stream, args=(), work=None):
    interpreter, _, tool = CONSUMERS[name]
    if tool:
        need(tool)
    events_file = os.path.join(work, "events")
    with open(events_file, "w", encoding="utf-8") as f:
        f.write(STREAMS[stream][0])
    env = dict(os.environ, MIC_TRANSCRIBER=STAND_IN, STAND_IN_EVENTS=events_file,
               STAND_IN_STATUS=str(STREAMS[stream][1]), STAND_IN_ARGS=os.path.join(work, "args"),
               LANG="C.UTF-8", LC_ALL="C.UTF-8")
    return subprocess.run([*interpreter, os.path.join(EXAMPLES, name), *args], env=env,
                          stdin=subprocess.DEVNULL, capture_output=True, timeout=30)


@pytest.fixture
def work():
    path = tempfile.mkdtemp(prefix="mic-docs-")
    yield path
    shutil.rmtree(path, ignore_errors=True)


class TestConsumerExamples:
    @pytest.mark.parametrize("name", sorted(CONSUMERS))
    def test_readme_shows_the_file_verbatim_in_a_code_block(self, name):
        language = CONSUMERS[name][1]
        assert f"```{language}\n{read(os.path.join(EXAMPLES, name))}```\n" in read(README)

    @pytest.mark.parametrize("name", sorted(CONSUMERS))
    def test_is_executable(self, name):
        assert os.stat(os.path.join(EXAMPLES, name)).st_mode & stat.S_IXUSR

    @pytest.mark.parametrize("stream", sorted(STREAMS))
    @pytest.mark.parametrize("name", sorted(CONSUMERS))
    def test_prints_the_events_and_passes_the_status_on(self, name, stream, work):
        done = run_example(name, stream, work=work)
        assert done.stderr == b""
        assert done.stdout.decode("utf-8") == STREAMS[stream][2]
        assert done.returncode == STREAMS[stream][1]

    @pytest.mark.parametrize("name", sorted(CONSUMERS))
    def test_passes_the_locale_argument_on(self, name, work):
        done = run_example(name, "nothing heard", args=("en-US",), work=work)
        assert done.returncode == 2
        assert read(os.path.join(work, "args")) == "en-US\n"


# --- README ---------------------------------------------------------------------------------

class TestReadme:
    def test_example_session_is_a_valid_run(self):
        block = re.search(r"```(?:json)?\n(\{.*?)```", read(README), re.S)
        assert block, "no example session in README"
        check_example_stream(block.group(1).splitlines())

    def test_set_up_commands_name_scripts_that_exist(self):
        text = read(README)
        setup = text.split("## Set-up on a fresh Debian 12 machine", 1)[1].split("\n## ", 1)[0]
        scripts = re.findall(r"\b(scripts/[\w.-]+)", setup)
        assert scripts
        for script in scripts:
            assert os.path.isfile(os.path.join(ROOT, script)), script

    def test_states_the_exit_statuses(self):
        text = read(README)
        for status, outcome in (("0", "`final`"), ("1", "`error`"),
                                ("2", '`error` "no speech was detected"')):
            assert re.search(rf"^\| *{status} *\|.*\| *{outcome}", text, re.M), status


# --- cmake --install ------------------------------------------------------------------------

class TestInstall:
    def test_puts_the_program_and_its_page_in_the_usual_places(self, work):
        build = os.environ.get("MIC_BUILD_DIR")
        if not build or not os.access(os.path.join(build, "mic-transcriber"), os.X_OK):
            pytest.skip("no built program (set MIC_BUILD_DIR to a build directory)")
        installed = subprocess.run(["cmake", "--install", build, "--prefix", work],
                                   capture_output=True, text=True)
        assert installed.returncode == 0, installed.stderr
        program = os.path.join(work, "bin", "mic-transcriber")
        assert os.access(program, os.X_OK)
        pages = os.path.join(work, "share", "man", "man1")
        assert os.listdir(pages) == ["mic-transcriber.1.gz"]
        with gzip.open(os.path.join(pages, "mic-transcriber.1.gz"), "rt", encoding="utf-8") as f:
            assert f.read() == read(MANPAGE)
        need("man")
        shown = subprocess.run(["man", "-M", os.path.join(work, "share", "man"), "-w",
                                "mic-transcriber"], capture_output=True, text=True)
        assert shown.stdout.strip() == os.path.join(pages, "mic-transcriber.1.gz"), shown
