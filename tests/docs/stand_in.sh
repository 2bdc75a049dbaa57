#!/bin/sh
# Stands in for mic-transcriber when the examples are tested: writes the event lines of the file
# $STAND_IN_EVENTS, records its arguments one per line in $STAND_IN_ARGS, and exits with
# $STAND_IN_STATUS.
if [ -n "$STAND_IN_ARGS" ]; then printf '%s\n' "$@" >"$STAND_IN_ARGS"; fi
cat "$STAND_IN_EVENTS"
exit "${STAND_IN_STATUS:-0}"
