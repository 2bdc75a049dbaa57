#!/usr/bin/env bash
# A virtual microphone for machines without a sound card.
#
#   virtual_mic.sh start DIR   starts a private PulseAudio daemon whose default source "vmic" hears
#                              whatever is played into the null sink "vspk", waits until the source
#                              delivers audio, and prints PULSE_SERVER=unix:DIR/native
#   virtual_mic.sh stop DIR    stops everything "start" started in DIR
#
# Speech goes in with: PULSE_SERVER=unix:DIR/native paplay -d vspk speech.wav (paced in real time).
# Works as root and without standard input; every daemon's output goes to DIR, never to our caller,
# so `$(virtual_mic.sh start DIR)` returns as soon as the microphone is ready.
set -euo pipefail

usage() {
  echo "usage: $0 start|stop DIR" >&2
  exit 64
}

[[ $# -eq 2 ]] || usage
command=$1
mkdir -p "$2"
dir=$(cd -P "$2" && pwd)

export HOME="$dir/home"
export XDG_RUNTIME_DIR="$dir/run"
export XDG_CONFIG_HOME="$dir/config"
export PULSE_SERVER="unix:$dir/native"

# Stops the process whose PID is in $1 and waits for it by polling: `wait` cannot wait for
# processes another shell started.
stop_pid_file() {
  local file=$1 pid
  [[ -f $file ]] || return 0
  pid=$(<"$file")
  rm -f "$file"
  [[ $pid =~ ^[0-9]+$ ]] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

stop_all() {
  stop_pid_file "$dir/keepalive.pid"
  stop_pid_file "$dir/pulseaudio.pid"
  rm -f "$dir/native"
}

source_delivers_audio() {
  local bytes
  bytes=$(timeout 3 parec -d vmic --latency-msec=20 --raw --format=s16le --rate=16000 --channels=1 2>/dev/null |
    head -c 3200 | wc -c) || true
  [[ ${bytes:-0} -ge 3200 ]]
}

start() {
  stop_all
  mkdir -p "$HOME" "$XDG_CONFIG_HOME"
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"

  # Not daemonized, so $! is the daemon itself and its PID needs no guessing.
  pulseaudio -n --daemonize=no --system=no --exit-idle-time=-1 --realtime=no \
    --high-priority=no --use-pid-file=no --log-target=stderr \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
    -L "module-null-sink sink_name=vspk rate=16000 channels=1" \
    -L "module-remap-source source_name=vmic master=vspk.monitor" \
    </dev/null >"$dir/pulseaudio.log" 2>&1 &
  echo $! >"$dir/pulseaudio.pid"

  # Start-up takes about 2 s, much longer on a loaded machine.
  local ready=
  for _ in $(seq 300); do
    if pactl info >/dev/null 2>&1; then
      ready=1
      break
    fi
    kill -0 "$(<"$dir/pulseaudio.pid")" 2>/dev/null || break
    sleep 0.1
  done
  if [[ -z $ready ]]; then
    echo "virtual_mic: the PulseAudio daemon did not start; see $dir/pulseaudio.log" >&2
    stop_all
    exit 1
  fi
  pactl set-default-sink vspk >/dev/null
  pactl set-default-source vmic >/dev/null

  # An idle null sink sleeps in 2 s blocks, and a stream with the default latency makes it render
  # in blocks of about that size: a silent low-latency stream keeps audio flowing in small steps.
  pacat -p -d vspk --latency-msec=20 --raw --format=s16le --rate=16000 --channels=1 \
    </dev/zero >"$dir/keepalive.log" 2>&1 &
  echo $! >"$dir/keepalive.pid"

  ready=
  for _ in $(seq 10); do
    if source_delivers_audio; then
      ready=1
      break
    fi
  done
  if [[ -z $ready ]]; then
    echo "virtual_mic: the source vmic delivered no audio; see $dir/pulseaudio.log" >&2
    stop_all
    exit 1
  fi
  echo "PULSE_SERVER=$PULSE_SERVER"
}

case $command in
  start) start ;;
  stop) stop_all ;;
  *) usage ;;
esac
