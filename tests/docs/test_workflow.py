"""The hosted-Mac CI workflow, checked where it cannot run: it parses, runs on the Macs it names,
installs from Homebrew what the build finds, and every script, path, CMake option, target and test
name its commands use exists in the tree. Also the check its last step runs
(tests/platform/apple/run_once.py), against stand-ins that break each rule a caller relies on."""
import os
import re
import shlex
import subprocess
import sys

import pytest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
WORKFLOW = os.path.join(ROOT, ".github", "workflows", "macos.yml")
RUN_ONCE = os.path.join(ROOT, "tests", "platform", "apple", "run_once.py")
MACS = {"macos-14", "macos-15"}
# Commands a hosted Mac has (macOS, Xcode's tools, Homebrew, what the first step installs).
TOOLS = {"brew", "cmake", "ctest", "codesign", "grep", "python3", "sysctl", "test", "echo"}
# What each dependency the build finds is called in Homebrew; None for the system's own. A new
# find_package or pkg-config module fails here until it is named, so CI on the Mac installs it.
FORMULAS = {"PkgConfig": "pkg-config", "Threads": None, "GTest": "googletest",
            "nlohmann_json": "nlohmann-json", "libutf8proc": "utf8proc"}
# The CMake files a Mac build reads (the Linux platform's are not), with the build directory each
# one's targets land in.
MAC_CMAKE = {"CMakeLists.txt": "", "cmake/apple.cmake": "", "cmake/packaging.cmake": "",
             "tests/CMakeLists.txt": "tests", "tests/platform/apple/CMakeLists.txt": "tests/platform/apple"}
SEPARATORS = {";", "&&", "||", "|", "&", "(", ")"}
REDIRECTIONS = {">", ">>", "<", ">&", "<&", "&>", "2>", "2>&"}


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


class Tree:
    """What the Mac build declares: cache variables, targets by build directory, test prefixes,
    dependencies, and the Homebrew line README gives."""

    def __init__(self, root):
        self.root = root
        self.cache = set()
        self.targets = set()
        self.executables = {}
        self.test_prefixes = set()
        self.dependencies = set()
        for name, bindir in MAC_CMAKE.items():
            text = read(os.path.join(root, name))
            self.cache |= set(re.findall(r"\boption\(\s*(\w+)", text))
            self.cache |= set(re.findall(r"\bset\(\s*(\w+)\s+[^)]*?\bCACHE\b", text, re.S))
            for kind, target in re.findall(r"\badd_(executable|library|custom_target)\(\s*([\w.-]+)",
                                           text):
                self.targets.add(target)
                if kind == "executable":
                    self.executables[os.path.join(bindir, target)] = target
            self.test_prefixes |= set(re.findall(r'\bTEST_PREFIX\s+"([^"]+)"', text))
            self.dependencies |= set(re.findall(r"\bfind_package\(\s*(\w+)", text))
            for modules in re.findall(r"\bpkg_check_modules\(\s*\w+([^)]*)\)", text):
                self.dependencies |= {m for m in modules.split()
                                      if m not in ("REQUIRED", "IMPORTED_TARGET", "QUIET")}
        readme = read(os.path.join(root, "README.md"))
        mac = readme.split("\n## macOS\n", 1)[1].split("\n## ", 1)[0]
        self.readme_formulas = set(re.search(r"`brew install ([^`]+)`", mac).group(1).split())


def commands(script):
    """Each simple command of a run step as its words, with ${{ }} expressions as a word X."""
    script = re.sub(r"\$\{\{.*?\}\}", "X", script).replace("\\\n", " ")
    for line in script.splitlines():
        lexer = shlex.shlex(line, posix=True, punctuation_chars=True)
        lexer.whitespace_split = True
        lexer.commenters = "#"
        words = []
        skip = False
        for token in lexer:
            if token in SEPARATORS:
                if words:
                    yield words
                words = []
            elif token in REDIRECTIONS or re.fullmatch(r"\d*[<>]&?", token):
                if words and words[-1].isdigit():
                    words.pop()  # the descriptor of 2>&1, split off by the lexer
                skip = True
            elif skip:
                skip = False
            else:
                words.append(token)
        if words:
            yield words


def option_values(words, option):
    return [words[i + 1] for i, word in enumerate(words[:-1]) if word == option]


def workflow_problems(text, tree):
    """Everything wrong with a workflow's text for the tree; empty when nothing is."""
    import yaml  # python3-yaml (install-deps.sh --test)

    try:
        workflow = yaml.safe_load(text)
    except yaml.YAMLError as error:
        return [f"not YAML: {error}"]
    found = []
    # YAML 1.1 reads the bare key `on` as true.
    if not (workflow.get("on") or workflow.get(True)):
        found.append("no events to run on")
    jobs = workflow.get("jobs") or {}
    if not jobs:
        return found + ["no jobs"]
    build_dirs = set()
    runs = []
    for name, job in jobs.items():
        matrix = (job.get("strategy") or {}).get("matrix") or {}
        oses = set(matrix.get("os") or [])
        if job.get("runs-on") != "${{ matrix.os }}" or not MACS <= oses:
            found.append(f"job {name} does not run on each of {sorted(MACS)}")
        for step in job.get("steps") or []:
            if "uses" in step:
                if not re.fullmatch(r"actions/checkout@v\d+", step["uses"]):
                    found.append(f"an action the check does not know: {step['uses']}")
            elif "run" in step:
                runs.append(step["run"])
            else:
                found.append(f"a step that neither runs nor uses: {step}")
    for script in runs:
        syntax = subprocess.run(["bash", "-n"], input=script, capture_output=True, text=True)
        if syntax.returncode != 0:
            found.append(f"not shell: {syntax.stderr.strip()}")
        for words in commands(script):
            if words[0] == "cmake" and "-B" in words:
                build_dirs |= set(option_values(words, "-B"))
    if len(build_dirs) != 1:
        return found + [f"one build directory is configured, not {sorted(build_dirs)}"]
    build = build_dirs.pop()
    installed = set()
    ran = set()
    for script in runs:
        for words in commands(script):
            ran.add(words[0])
            found += command_problems(words, tree, build, installed)
    for dependency in sorted(tree.dependencies):
        if dependency not in FORMULAS:
            found.append(f"no Homebrew formula known for {dependency}: name it in FORMULAS")
        elif FORMULAS[dependency] and FORMULAS[dependency] not in installed:
            found.append(f"{dependency} is found by the build but {FORMULAS[dependency]} is not "
                         f"installed")
    for formula in sorted(tree.readme_formulas - installed):
        found.append(f"README's macOS build installs {formula}, the workflow does not")
    for needed in ("ctest", os.path.join("tests", "platform", "apple", "run_once.py")):
        if not any(needed in script for script in runs):
            found.append(f"nothing runs {needed}")
    return found


def command_problems(words, tree, build, installed):
    found = []
    program = words[0]
    if "/" in program:
        pass  # checked with the other paths below
    elif program not in TOOLS:
        found.append(f"a command the hosted Mac may not have: {program}")
    if program == "brew" and words[1:2] == ["install"]:
        installed |= {w for w in words[2:] if not w.startswith("-")}
    if program == "cmake":
        for i, word in enumerate(words):
            name = None
            if word.startswith("-D") and len(word) > 2:
                name = word[2:]
            elif word == "-D" and i + 1 < len(words):
                name = words[i + 1]
            if name is not None:
                name = re.split(r"[=:]", name, 1)[0]
                if not name.startswith("CMAKE_") and name not in tree.cache:
                    found.append(f"cmake -D{name}: no such option or cache variable")
        for target in option_values(words, "--target"):
            if target not in tree.targets:
                found.append(f"cmake --target {target}: no such target")
    if program == "ctest":
        for directory in option_values(words, "--test-dir"):
            if directory != build:
                found.append(f"ctest --test-dir {directory}: the build directory is {build}")
        for pattern in option_values(words, "-R") + option_values(words, "-E"):
            if not any(re.search(pattern, prefix) for prefix in tree.test_prefixes):
                found.append(f"ctest pattern {pattern} matches no test prefix the build declares")
    for word in words:
        if word.startswith("-") or "=" in word or "$" in word or word.startswith("/") or \
                not re.fullmatch(r"[\w.-]+(/[\w.-]+)+/?", word):
            continue
        if word.startswith(build + "/"):
            if word[len(build) + 1:] not in tree.executables:
                found.append(f"{word}: no target builds it")
        elif not os.path.exists(os.path.join(tree.root, word)):
            found.append(f"{word}: no such file in the tree")
    return found


@pytest.fixture(scope="module")
def tree():
    return Tree(ROOT)


@pytest.fixture(scope="module")
def workflow_text():
    pytest.importorskip("yaml", reason="python3-yaml is not installed (install-deps.sh --test)")
    return read(WORKFLOW)


class TestMacWorkflow:
    def test_everything_it_runs_is_in_the_tree(self, tree, workflow_text):
        found = workflow_problems(workflow_text, tree)
        assert not found, "\n".join(found)

    # Each a small mistake the check must catch, with what it must say.
    @pytest.mark.parametrize("old, new, said", [
        ("tests/platform/apple/run_once.py", "tests/platform/apple/run-once.py", "no such file in the tree"),
        ("build/mic-transcriber", "build/bin/mic-transcriber", "no target builds it"),
        ("-DMIC_BUILD_TESTS=ON", "-DMIC_BUILD_TEST=ON", "no such option or cache variable"),
        ("-R '^apple\\.'", "-R '^mac\\.'", "matches no test prefix"),
        ("utf8proc googletest", "utf8proc", "googletest is not installed"),
        (" utf8proc", "", "README's macOS build installs utf8proc"),
        ("os: [macos-14, macos-15]", "os: [macos-14]", "does not run on each of"),
        ("runs-on: ${{ matrix.os }}", "runs-on: [${{ matrix.os }}", "not YAML"),
        ("run: brew install", "run: port install", "may not have: port"),
    ])
    def test_rejects_a_broken_workflow(self, tree, workflow_text, old, new, said):
        assert old in workflow_text
        found = workflow_problems(workflow_text.replace(old, new, 1), tree)
        assert any(said in problem for problem in found), found


# --- The check of one run (tests/platform/apple/run_once.py) ------------------------------------------

START = '{"kind":"status","text":"requesting local speech access"}'
REFUSED = '{"kind":"error","text":"speech recognition permission was not granted"}'


def run_once(script, timeout=10, stop_after=None):
    stop = ["--stop-after", str(stop_after)] if stop_after else []
    return subprocess.run([sys.executable, RUN_ONCE, "--timeout", str(timeout), *stop, "sh", "-c",
                           script], capture_output=True, text=True, timeout=timeout + 30)


class TestRunOnceCheck:
    @pytest.mark.parametrize("script, said", [
        (f"echo '{START}'; echo '{REFUSED}'; exit 1", None),
        # Standard input closed, not a pipe or /dev/null: a redirection from it fails.
        (f"{{ true 3<&0; }} 2>/dev/null && exit 1; echo '{START}'; echo '{REFUSED}'; exit 1", None),
        (f"echo '{START}'; echo '{REFUSED}'; exit 0", "exit status 0 after"),
        (f"echo '{START}'; echo '{REFUSED}'; echo warning >&2; exit 1", "standard error"),
        (f"echo '{REFUSED}'; echo '{REFUSED}'; exit 1", "2 final or error lines"),
        (f"echo '{REFUSED}'; echo '{START}'; exit 1", "the last line is status"),
        (f"echo '{START}'; exit 1", "0 final or error lines"),
        ("echo '{\"kind\":\"status\",\"text\":\"listening\"}'; exit 1", "not a status"),
        (f"echo '{START}'; printf '%s' '{REFUSED}'; exit 1", "no line feed"),
        ("exit 1", "no output at all"),
        (f"echo '{START}'; exec sleep 60", "no end within 2 s"),
        (f"echo '{START}'; echo '{REFUSED}'; (sleep 60 >/dev/null 2>&1 &); exit 1",
         "still there"),
    ])
    def test_holds_a_run_to_what_callers_rely_on(self, script, said):
        # Short only where the run is meant to hang: a busy machine must not fail the others.
        done = run_once(script, timeout=2 if said and said.startswith("no end") else 10)
        if said is None:
            assert done.returncode == 0 and done.stdout.startswith("ok:"), done
        else:
            assert done.returncode == 1 and said in done.stdout, done

    NO_SPEECH = '{"kind":"error","text":"no speech was detected"}'

    @pytest.mark.parametrize("script, said", [
        # Held before listening (a prompt no one answers), it ends on SIGTERM with its one line.
        (f"stop() {{ echo '{NO_SPEECH}'; kill $!; exit 2; }}; trap stop TERM; echo '{START}'; "
         "sleep 60 & wait", None),
        (f"trap '' TERM; echo '{START}'; sleep 60", "no end within 3 s (sent SIGTERM"),
        (f"trap 'kill $!; exit 2' TERM; echo '{START}'; sleep 60 & wait", "0 final or error lines"),
    ])
    def test_a_run_still_going_is_stopped_and_must_still_end_with_its_line(self, script, said):
        done = run_once(script, timeout=3, stop_after=1)
        if said is None:
            assert done.returncode == 0 and "sent SIGTERM" in done.stdout, done
        else:
            assert done.returncode == 1 and said in done.stdout, done
