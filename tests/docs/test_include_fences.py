"""The rooms' include fences: a line that brings the engine into the engine-neutral recognizer or
into the display text, audio or the recognizer into the display text, or a platform into the core,
fails the build."""
import os
import shutil
import subprocess

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))

CASES = [
    ("src/recognizer/audio_queue.cpp", "#include <pocketsphinx.h>", "mic_recognizer"),
    ("src/recognizer/model_load.h", "#include <sphinxbase/err.h>", "mic_recognizer"),
    ("src/recognizer/resampler.cpp", '#include "recognizer/pocketsphinx/pocketsphinx_engine.h"',
     "mic_recognizer"),
    ("src/display_text/english_names.cpp", "#include <pocketsphinx.h>", "mic_display_text"),
    ("src/display_text/display_text.cpp", '#include "recognizer/decoder.h"', "mic_display_text"),
    ("src/display_text/english_numbers.cpp", '#include "platform/audio_input.h"',
     "mic_display_text"),
    ("src/session/speech_session.cpp", '#include "platform/linux/run_loop.h"', "mic_core"),
]


def fence(build, target):
    return subprocess.run(["cmake", "--build", build, "--target", f"{target}_include_fence"],
                          capture_output=True, text=True, timeout=120)


@pytest.fixture(scope="module")
def tree(tmp_path_factory):
    for tool in ("cmake", "pkg-config"):
        if shutil.which(tool) is None:
            pytest.skip(f"{tool} is not installed (scripts/install-deps.sh --test installs it)")
    if subprocess.run(["pkg-config", "--exists", "pocketsphinx"]).returncode != 0:
        pytest.skip("pocketsphinx's development files are not installed (scripts/install-deps.sh)")
    copy = str(tmp_path_factory.mktemp("fences") / "tree")
    shutil.copytree(ROOT, copy, ignore=shutil.ignore_patterns(".git", "build*"))
    build = os.path.join(copy, "build")
    subprocess.run(["cmake", "-S", copy, "-B", build, "-DMIC_BUILD_TESTS=OFF"], check=True,
                   capture_output=True, timeout=300)
    return copy, build


def test_each_room_passes_and_a_line_across_its_fence_fails_the_build(tree):
    copy, build = tree
    for target in sorted({target for _, _, target in CASES}):
        result = fence(build, target)
        assert result.returncode == 0, result.stdout + result.stderr
    for name, line, target in CASES:
        path = os.path.join(copy, name)
        with open(path, encoding="utf-8") as f:
            original = f.read()
        try:
            with open(path, "w", encoding="utf-8") as f:
                f.write(line + "\n" + original)
            result = fence(build, target)
        finally:
            with open(path, "w", encoding="utf-8") as f:
                f.write(original)
        assert result.returncode != 0, f"{name}: {line} was let through"
        assert name in result.stdout + result.stderr
        assert fence(build, target).returncode == 0, f"{name} restored still fails"
