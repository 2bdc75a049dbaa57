#!/usr/bin/env bash
# A virtual microphone for machines without a sound card.
#
#   virtual_mic.sh start DIR [SERVER]   starts a private sound server whose default source "vmic"
#                                       hears whatever is played into the null sink "vspk", waits
#                                       until the source delivers audio, and prints PULSE_SERVER=...
#   virtual_mic.sh stop DIR             stops everything "start" started in DIR
#
# SERVER is "pulseaudio" (the default, or $MIC_SOUND_SERVER) or "pipewire": PipeWire with
# WirePlumber on a session bus of its own, serving libpulse clients through pipewire-pulse, as
# most desktops run it now.
#
# Speech goes in with: PULSE_SERVER=... paplay -d vspk speech.wav (paced in real time).
# Works as root and without standard input; every daemon's output goes to DIR, never to our caller,
# so `$(virtual_mic.sh start DIR)` returns as soon as the microphone is ready. Each daemon's PID is
# in DIR/<name>.pid; the one serving PULSE_SERVER is pulseaudio.pid or pipewire-pulse.pid.
set -euo pipefail

usage() {
  echo "usage: $0 start DIR [pulseaudio|pipewire] | stop DIR" >&2
  exit 64
}

[[ $# -eq 2 || ($# -eq 3 && $1 == start) ]] || usage
command=$1
server=${3:-${MIC_SOUND_SERVER:-pulseaudio}}
[[ $server == pulseaudio || $server == pipewire ]] || usage
mkdir -p "$2"
dir=$(cd -P "$2" && pwd)

export HOME="$dir/home"
export XDG_RUNTIME_DIR="$dir/run"
export XDG_CONFIG_HOME="$dir/config"
if [[ $server == pipewire ]]; then
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/bus"
else
  export PULSE_SERVER="unix:$dir/native"
fi

# Whether the process runs. A daemon whose parent is gone stays a zombie until its new parent
# reaps it, which may take seconds: that counts as ended.
alive() {
  local stat
  { stat=$(<"/proc/$1/stat"); } 2>/dev/null || return 1
  stat=${stat##*) }
  [[ ${stat:0:1} != Z ]]
}

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
    alive "$pid" || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

stop_all() {
  local name
  for name in keepalive pulseaudio pipewire-pulse wireplumber pipewire dbus; do
    stop_pid_file "$dir/$name.pid"
  done
  rm -rf "$dir/native" "$dir/bus" "$XDG_RUNTIME_DIR"
}

# Runs a daemon in the background with its output in DIR/NAME.log and its PID in DIR/NAME.pid.
# Not daemonized, so $! is the daemon itself and its PID needs no guessing.
run_daemon() {
  local name=$1
  shift
  "$@" </dev/null >"$dir/$name.log" 2>&1 &
  echo $! >"$dir/$name.pid"
}

# Polls (100 ms steps, up to 30 s: start-up is much slower on a loaded machine) until the command
# succeeds; gives up early once the daemon named by $1 has exited.
wait_until() {
  local name=$1
  shift
  for _ in $(seq 300); do
    if "$@" >/dev/null 2>&1; then return 0; fi
    alive "$(<"$dir/$name.pid")" || return 1
    sleep 0.1
  done
  return 1
}

give_up() {
  echo "virtual_mic: $1; see the logs in $dir" >&2
  stop_all
  exit 1
}

source_delivers_audio() {
  local bytes
  bytes=$(timeout 3 parec -d vmic --latency-msec=20 --raw --format=s16le --rate=16000 --channels=1 2>/dev/null |
    head -c 3200 | wc -c) || true
  [[ ${bytes:-0} -ge 3200 ]]
}

start_pulseaudio() {
  run_daemon pulseaudio pulseaudio -n --daemonize=no --system=no --exit-idle-time=-1 \
    --realtime=no --high-priority=no --use-pid-file=no --log-target=stderr \
    -L "module-native-protocol-unix auth-anonymous=1 socket=$dir/native" \
    -L "module-null-sink sink_name=vspk rate=16000 channels=1" \
    -L "module-remap-source source_name=vmic master=vspk.monitor"
  # Start-up takes about 2 s.
  wait_until pulseaudio pactl info || give_up "the PulseAudio daemon did not start"
  pactl set-default-sink vspk >/dev/null
  pactl set-default-source vmic >/dev/null
}

default_source_is_vmic() {
  pactl set-default-source vmic && [[ $(pactl get-default-source) == vmic ]]
}

start_pipewire() {
  # WirePlumber needs a session bus; without one it exits and no stream is ever linked.
  run_daemon dbus dbus-daemon --session --nofork --address="$DBUS_SESSION_BUS_ADDRESS"
  wait_until dbus test -S "$dir/bus" || give_up "the session bus did not start"
  run_daemon pipewire pipewire
  wait_until pipewire test -S "$XDG_RUNTIME_DIR/pipewire-0" || give_up "PipeWire did not start"
  run_daemon wireplumber wireplumber
  run_daemon pipewire-pulse pipewire-pulse
  wait_until pipewire-pulse pactl info || give_up "pipewire-pulse did not start"
  pactl load-module module-null-sink sink_name=vspk rate=16000 channels=1 >/dev/null
  pactl load-module module-remap-source source_name=vmic master=vspk.monitor >/dev/null
  # The default can only be set once WirePlumber runs ("Not supported" until then).
  wait_until wireplumber default_source_is_vmic || give_up "the default source could not be set"
  pactl set-default-sink vspk >/dev/null
  # module-always-sink stays, as on desktops: with no sink left it makes up auto_null, whose
  # monitor the server records once the microphone goes away.
}

start() {
  stop_all
  mkdir -p "$HOME" "$XDG_CONFIG_HOME"
  mkdir -p -m 700 "$XDG_RUNTIME_DIR"
  "start_$server"

  # An idle null sink sleeps in 2 s blocks, and a stream with the default latency makes it render
  # in blocks of about that size: a silent low-latency stream keeps audio flowing in small steps.
  pacat -p -d vspk --latency-msec=20 --raw --format=s16le --rate=16000 --channels=1 \
    </dev/zero >"$dir/keepalive.log" 2>&1 &
  echo $! >"$dir/keepalive.pid"

  local ready=
  for _ in $(seq 10); do
    if source_delivers_audio; then
      ready=1
      break
    fi
  done
  [[ -n $ready ]] || give_up "the source vmic delivered no audio"
  echo "PULSE_SERVER=$PULSE_SERVER"
}

case $command in
  start) start ;;
  stop) stop_all ;;
  *) usage ;;
esac
