#!/usr/bin/env bash
# Follows a run from the shell: the transcript as it grows, then the outcome.
# Press Enter to stop listening early. Exits with mic-transcriber's own status.
mic=${MIC_TRANSCRIBER:-mic-transcriber}
"$mic" "$@" | jq --unbuffered -r '
  if .kind == "partial" then "hearing: \(.text)"
  elif .kind == "final" then "transcript: \(.text)"
  elif .kind == "error" then "error: \(.text)"
  else "(\(.text))" end'
exit "${PIPESTATUS[0]}"
