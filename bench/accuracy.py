#!/usr/bin/env python3
"""Word errors of the recognizer on flite sentences, replayed through mic_replay.

Each sentence at flite's own level, 15 and 30 dB quieter; four pairs of them joined by pauses of
0.35 and 0.6 s (a pause inside speech); and the benchmark's long sentence. Prints the errors of
every file and the total, so that a change to the decoder can be compared transcript by transcript:
  bench/accuracy.py build-bench/bench/mic_replay > before.txt
"""
import concurrent.futures
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from harness import word_error_rate, words  # noqa: E402

SENTENCES = [
    "please turn on the kitchen lights",
    "the weather tomorrow will be cloudy in the morning with light rain expected by the "
    "afternoon and a cool wind from the north",
    "please call my brother tomorrow morning",
    "remember to buy milk bread and eggs on the way home from work",
    "the meeting has been moved to three o'clock on thursday afternoon",
    "turn on the kitchen light",
    "the weather is nice today",
    "set an alarm for seven thirty tomorrow",
    "what time does the train leave for the city",
    "send a message to my mother saying i will be late",
    "how many people live in the largest city of the country",
    "the children played in the garden until it was dark",
    "open the window and let some fresh air into the room",
    "my flight was delayed by two hours because of the storm",
]
PAIRS = [(0, 2), (4, 6), (8, 10), (11, 13)]
LONG = ("when the sunlight strikes raindrops in the air they act as a prism and form a rainbow. "
        "the rainbow is a division of white light into many beautiful colors. these take the "
        "shape of a long round arch with its path high above and its two ends apparently beyond "
        "the horizon. there is according to legend a boiling pot of gold at one end. people look "
        "but no one ever finds it. when a man looks for something beyond his reach his friends "
        "say he is looking for the pot of gold at the end of the rainbow. it is an old story but "
        "people still tell it to their children")


def sox(*args):
    subprocess.run(["sox", *args], check=True, stdin=subprocess.DEVNULL)


def speak(directory, name, text):
    raw, out = os.path.join(directory, name + "-raw.wav"), os.path.join(directory, name + ".wav")
    subprocess.run(["flite", "-voice", "slt", "-t", text, "-o", raw], check=True,
                   stdin=subprocess.DEVNULL)
    sox(raw, "-r", "16000", "-c", "1", "-b", "16", out)
    return out


def files(directory):
    """(label, path, reference) of every file replayed."""
    out = []
    spoken = [speak(directory, f"s{i:02d}", text) for i, text in enumerate(SENTENCES)]
    for i, (path, text) in enumerate(zip(spoken, SENTENCES)):
        out.append((f"s{i:02d}@0", path, text))
        for decibels in (-15, -30):
            quieter = os.path.join(directory, f"s{i:02d}{decibels}.wav")
            sox("-D", path, quieter, "vol", f"{decibels}dB")  # no dither: the same file every time
            out.append((f"s{i:02d}@{decibels}", quieter, text))
    for first, second in PAIRS:
        for pause in (0.35, 0.6):
            padded = os.path.join(directory, f"pad{first}-{pause}.wav")
            joined = os.path.join(directory, f"p{first}-{second}-{pause}.wav")
            sox(spoken[first], padded, "pad", "0", str(pause))
            sox(padded, spoken[second], "-b", "16", joined)
            out.append((f"p{first:02d}+{second:02d}/{pause}", joined,
                        SENTENCES[first] + " " + SENTENCES[second]))
    out.append(("long@0", speak(directory, "long", LONG), LONG))
    return out


def main():
    if len(sys.argv) != 2:
        sys.exit(f"usage: {sys.argv[0]} path/to/mic_replay")
    replay = os.path.abspath(sys.argv[1])
    with tempfile.TemporaryDirectory(prefix="mic-accuracy-") as directory:
        jobs = files(directory)

        def run(job):
            label, path, reference = job
            lines = subprocess.run([replay, path], capture_output=True, text=True).stdout
            return label, reference, (lines.splitlines() or [""])[0]

        errors = total = 0
        with concurrent.futures.ThreadPoolExecutor(2) as pool:
            for label, reference, heard in pool.map(run, jobs):
                count = len(words(reference))
                wrong = round(word_error_rate(reference, heard) * count)
                errors, total = errors + wrong, total + count
                print(f"{label:16} {wrong:2d}/{count:3d} {heard}")
        print(f"word errors: {errors} of {total}")


if __name__ == "__main__":
    main()
