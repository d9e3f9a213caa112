#!/usr/bin/env bash
# The bed's sound server: a private PulseAudio with a null sink whose monitor
# is the default source, and a low-latency reader of that monitor.
#
#   tools/bed-sound.sh start RUN_DIR   starts both; RUN_DIR/pulse/state says "running"
#   tools/bed-sound.sh stop RUN_DIR    ends both;   RUN_DIR/pulse/state says "stopped"
#
# tools/bed.sh starts it and stops it on exit. A test stops it to take the
# recording device away as an unplugged one goes, and starts it again.
# Everything is found from RUN_DIR, so a test's native child can call it.
set -uo pipefail
cmd=${1:?start or stop}
run=${2:?run dir}
dir="$run/pulse"
mkdir -p "$dir"
export XDG_RUNTIME_DIR="$dir" PULSE_RUNTIME_PATH="$dir" PULSE_STATE_PATH="$dir"
export PULSE_SERVER="unix:$dir/native"

# A process that ended but was not yet reaped (a zombie) counts as gone.
alive() { local s; s=$(ps -o stat= -p "$1" 2>/dev/null) && [ -n "$s" ] && [ "${s#Z}" = "$s" ]; }

stop_pid() {
  local file=$1 pid
  pid=$(cat "$file" 2>/dev/null) || return 0
  rm -f "$file"
  [ -n "$pid" ] || return 0
  kill "$pid" 2>/dev/null
  for _ in $(seq 1 100); do alive "$pid" || return 0; sleep 0.05; done
  kill -9 "$pid" 2>/dev/null
}

case "$cmd" in
  start)
    rm -f "$dir/state"
    cat > "$dir/default.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=bed_sink rate=44100 channels=2 sink_properties=device.description=BedSink
set-default-sink bed_sink
set-default-source bed_sink.monitor
PA
    pulseaudio -n -F "$dir/default.pa" --daemonize=no --exit-idle-time=-1 \
      --disallow-exit --use-pid-file=no --system=no --log-target=file:"$dir/log" \
      </dev/null >/dev/null 2>&1 &
    echo $! > "$dir/server.pid"
    for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.05; done
    pactl info >/dev/null 2>&1 || { echo "bed: pulseaudio did not start" >&2; cat "$dir/log" >&2; exit 1; }
    # A null sink renders in blocks of up to two seconds unless a client asks
    # for less, so a new recording would start up to two seconds late. A
    # low-latency reader of the monitor keeps the sink ticking like a real
    # sound card (it only reads; what is played is not changed).
    parec --latency-msec=${SONOTAPE_KEEPER_MS:-50} -d bed_sink.monitor </dev/null >/dev/null 2>&1 &
    echo $! > "$dir/keeper.pid"
    echo running > "$dir/state"
    ;;
  stop)
    rm -f "$dir/state"
    stop_pid "$dir/keeper.pid"
    stop_pid "$dir/server.pid"
    echo stopped > "$dir/state"
    ;;
  *) echo "bed-sound: start or stop" >&2; exit 2 ;;
esac
