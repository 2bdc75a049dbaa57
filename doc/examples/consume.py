#!/usr/bin/env python3
"""Follows a run from Python: the transcript as it grows, then the outcome.
Press Enter to stop listening early. Exits with mic-transcriber's own status."""
import json
import os
import subprocess
import sys

mic = os.environ.get("MIC_TRANSCRIBER", "mic-transcriber")
with subprocess.Popen([mic, *sys.argv[1:]], stdout=subprocess.PIPE, encoding="utf-8") as run:
    for line in run.stdout:
        event = json.loads(line)
        if event["kind"] == "partial":
            print("hearing:", event["text"], flush=True)
        elif event["kind"] == "final":
            print("transcript:", event["text"])
        elif event["kind"] == "error":
            print("error:", event["text"])
        else:
            print(f"({event['text']})", flush=True)
sys.exit(run.returncode)
