"""Word error rate: word-level edit distance over the reference length, case and punctuation aside."""
import re


def words(text):
    return re.findall(r"[a-z0-9']+", text.lower())


def word_error_rate(reference, hypothesis):
    ref, hyp = words(reference), words(hypothesis)
    if not ref:
        return 0.0 if not hyp else 1.0
    previous = list(range(len(hyp) + 1))
    for i, r in enumerate(ref, 1):
        current = [i] + [0] * len(hyp)
        for j, h in enumerate(hyp, 1):
            current[j] = min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (r != h))
        previous = current
    return previous[-1] / len(ref)
