"""doc/event-line.schema.json against hand-written lines, and its use on every stream the suite
reads (check_stream validates each line with it)."""
import json

import pytest

from conftest import EVENT_SCHEMA, check_stream, schema_errors

pytestmark = pytest.mark.core

NO_BREAK_SPACE = "\u00a0"


def valid(line):
    return not schema_errors(json.loads(line))


class TestSchemaItself:
    def test_is_a_valid_draft_2020_12_schema(self):
        jsonschema = pytest.importorskip(
            "jsonschema", reason="python3-jsonschema is not installed (install-deps.sh --test)")
        with open(EVENT_SCHEMA, encoding="utf-8") as f:
            schema = json.load(f)
        assert schema["$schema"] == "https://json-schema.org/draft/2020-12/schema"
        jsonschema.Draft202012Validator.check_schema(schema)


class TestShape:
    @pytest.mark.parametrize("line", [
        '{"kind":"partial","text":"hello"}',
        '{"text":"hello","kind":"partial"}',
    ])
    def test_two_string_members_in_either_order(self, line):
        assert valid(line)

    @pytest.mark.parametrize("line", [
        '{"kind":"partial"}',
        '{"text":"hello"}',
        '{}',
        '{"kind":"partial","text":"hello","time":1.5}',
        '{"kind":"partial","text":null}',
        '{"kind":"partial","text":42}',
        '{"kind":"partial","text":["hello"]}',
        '{"kind":null,"text":"hello"}',
        '["partial","hello"]',
        '"partial"',
    ])
    def test_anything_else_is_rejected(self, line):
        assert not valid(line)

    @pytest.mark.parametrize("kind", ["Final", "FINAL", "warning", "result", "", "partial "])
    def test_only_the_four_kinds(self, kind):
        assert not valid(json.dumps({"kind": kind, "text": "hello"}))


class TestStatus:
    @pytest.mark.parametrize("text", [
        "requesting local speech access", "listening locally", "finishing transcript"])
    def test_the_three_progress_texts(self, text):
        assert valid(json.dumps({"kind": "status", "text": text}))

    @pytest.mark.parametrize("text", [
        "", "listening", "Listening locally", "listening locally ", "no speech was detected",
        "the quick brown fox"])
    def test_no_other_text(self, text):
        assert not valid(json.dumps({"kind": "status", "text": text}))


class TestPartial:
    @pytest.mark.parametrize("text", [
        "the quick", "", "   ", " the quick \n", "naïve café 🎤", 'AC/DC "live"\t\\'])
    def test_any_text_untrimmed_even_blank(self, text):
        assert valid(json.dumps({"kind": "partial", "text": text}, ensure_ascii=False))


class TestFinal:
    @pytest.mark.parametrize("text", [
        "hello", "the quick brown fox", "two\nlines", f"inner{NO_BREAK_SPACE}space", "naïve 🎤",
        "a"])
    def test_trimmed_non_empty_text(self, text):
        assert valid(json.dumps({"kind": "final", "text": text}, ensure_ascii=False))

    @pytest.mark.parametrize("text", [
        "", " hello", "hello ", "hello\n", "\thello", "hello\r", "hello\u000b", "hello\u000c",
        f"{NO_BREAK_SPACE}hello", f"hello{NO_BREAK_SPACE}", "hello\u2028", "\u2029hello",
        "hello\u0085", "\u3000hello", "hello\u2009", "\u1680hello", "hello\u202f", " ", "\n"])
    def test_empty_or_white_space_at_an_end_is_rejected(self, text):
        assert not valid(json.dumps({"kind": "final", "text": text}, ensure_ascii=False))

    def test_white_space_outside_the_trimmed_set_is_text(self):
        # U+200B (zero width space) is a format character, not a separator: trimming keeps it.
        assert valid(json.dumps({"kind": "final", "text": "hello\u200b"}))


class TestError:
    @pytest.mark.parametrize("text", [
        "no speech was detected",
        "speech recognition permission was not granted",
        "microphone permission was not granted",
        "speech recognition is unavailable for this language",
        "this mac cannot guarantee on-device speech recognition for this language",
        "no microphone input is available",
        "microphone could not start: Device or resource busy",
        "speech recognition failed: could not process audio",
        "The operation couldn’t be completed. (kAFAssistantErrorDomain error 1110.)",
    ])
    def test_fixed_texts_and_platform_descriptions(self, text):
        assert valid(json.dumps({"kind": "error", "text": text}, ensure_ascii=False))

    @pytest.mark.parametrize("text", ["", "microphone could not start: ",
                                      "microphone could not start:"])
    def test_empty_text_or_a_start_failure_without_its_reason(self, text):
        assert not valid(json.dumps({"kind": "error", "text": text}))


class FakeRun:
    """Just what check_stream reads from a run."""

    def __init__(self, *lines):
        self.lines = [(0.0, line.encode("utf-8") + b"\n") for line in lines]
        self.stderr = b""

    def events(self):
        return [json.loads(raw) for _, raw in self.lines]


class TestEveryStreamIsValidated:
    def test_a_valid_stream_passes(self):
        run = FakeRun('{"kind":"status","text":"requesting local speech access"}',
                      '{"kind":"status","text":"listening locally"}',
                      '{"kind":"partial","text":" hello "}',
                      '{"kind":"status","text":"finishing transcript"}',
                      '{"kind":"final","text":"hello"}')
        assert check_stream(run)[-1] == {"kind": "final", "text": "hello"}

    @pytest.mark.parametrize("lines", [
        ('{"kind":"status","text":"listening"}',
         '{"kind":"error","text":"no speech was detected"}'),
        ('{"kind":"status","text":"listening locally"}', '{"kind":"final","text":"hello "}'),
        ('{"kind":"status","text":"listening locally"}', '{"kind":"error","text":""}'),
    ])
    def test_a_line_only_the_schema_rejects_fails_the_stream(self, lines):
        run = FakeRun('{"kind":"status","text":"requesting local speech access"}', *lines)
        with pytest.raises(AssertionError, match="schema|should not be valid|too short|is not one"):
            check_stream(run)
