#!/usr/bin/env bash
# The bed's sound server: a private PulseAudio with two null sinks, "bed_sink"
# (the default playback device, whose monitor is the default source) and
# "bed_speakers" (a second playback device, there from the start as a
# computer's speakers are beside its headphones), and a low-latency reader of
# each monitor.
#
#   tools/bed-sound.sh start RUN_DIR   starts both; RUN_DIR/pulse/state says "running"
#   tools/bed-sound.sh stop RUN_DIR    ends both;   RUN_DIR/pulse/state says "stopped"
#
# Changes of the playback devices, as a user's plugging makes them (each ends
# when the server has done it):
#   tools/bed-sound.sh line-silent RUN_DIR   the recording line hears nothing (a silent
#                                            source is the default), so only loopback
#                                            hears what plays
#   tools/bed-sound.sh unplug RUN_DIR        "bed_sink" goes away (what plays on it ends);
#                                            "bed_speakers" is the default
#   tools/bed-sound.sh no-sink RUN_DIR       every playback device goes away
#   tools/bed-sound.sh plug RUN_DIR          "bed_sink" is there again, and the default
#   tools/bed-sound.sh reset RUN_DIR         as after start: "bed_sink" the default of the two
#                                            sinks at 44 100 Hz, its monitor the default source
#   tools/bed-sound.sh rate-HZ RUN_DIR       both sinks made again at HZ (48000, 96000...), as a
#                                            sound card set to that rate; "bed_sink" the default
#   tools/bed-sound.sh rate-HZ-HZ2 RUN_DIR   the same, with "bed_speakers" at HZ2: two playback
#                                            devices at different rates
#
# SONOTAPE_BED_RATE (default 44100) is the sinks' rate from start on.
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

bed_rate=${SONOTAPE_BED_RATE:-44100}
rate_now() { cat "$dir/rate" 2>/dev/null || echo "$bed_rate"; }

# A null sink at the bed's rate, with a reader that keeps it ticking (see start).
make_sink() {
  local name=$1 description=$2 rate=${3:-$(rate_now)}
  pactl list short sinks | grep -q $'\t'"$name"$'\t' && return 0
  pactl load-module module-null-sink sink_name="$name" rate="$rate" channels=2 \
    sink_properties=device.description="$description" >/dev/null
  parec --latency-msec=${SONOTAPE_KEEPER_MS:-50} --rate="$rate" --channels=2 -d "$name.monitor" \
    </dev/null >/dev/null 2>&1 &
  echo $! > "$dir/keeper-$name.pid"
}

unload_sink() {
  local owner
  owner=$(pactl list short sinks | awk -v n="$1" '$2 == n {print $1}')
  [ -n "$owner" ] || return 0
  owner=$(pactl list sinks | awk -v n="$1" '/^Sink #/ {s = 0} $1 == "Name:" && $2 == n {s = 1} s && $1 == "Owner" {print $3; exit}')
  [ -n "$owner" ] && pactl unload-module "$owner"
  stop_pid "$dir/keeper-$1.pid"
}

case "$cmd" in
  start)
    rm -f "$dir/state"
    echo "$bed_rate" > "$dir/rate"
    cat > "$dir/default.pa" <<PA
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
load-module module-null-sink sink_name=bed_sink rate=$bed_rate channels=2 sink_properties=device.description=BedSink
load-module module-null-sink sink_name=bed_speakers rate=$bed_rate channels=2 sink_properties=device.description=BedSpeakers
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
    # sound card (it only reads; what is played is not changed). It reads at
    # the sink's rate: a reader at another rate could make the sound server
    # switch an idle sink to its own rate.
    for sink in bed_sink bed_speakers; do
      parec --latency-msec=${SONOTAPE_KEEPER_MS:-50} --rate="$bed_rate" --channels=2 -d $sink.monitor \
        </dev/null >/dev/null 2>&1 &
      echo $! > "$dir/keeper-$sink.pid"
    done
    echo running > "$dir/state"
    ;;
  stop)
    rm -f "$dir/state"
    for k in "$dir"/keeper-*.pid; do [ -e "$k" ] && stop_pid "$k"; done
    stop_pid "$dir/server.pid"
    echo stopped > "$dir/state"
    ;;
  line-silent)
    pactl list short sources | grep -q $'\tbed_quiet\t' ||
      pactl load-module module-null-source source_name=bed_quiet rate=44100 channels=2 >/dev/null
    pactl set-default-source bed_quiet
    ;;
  unplug)
    make_sink bed_speakers BedSpeakers
    pactl set-default-sink bed_speakers
    unload_sink bed_sink
    ;;
  no-sink)
    for s in $(pactl list short sinks | cut -f2); do unload_sink "$s"; done
    ;;
  plug)
    make_sink bed_sink BedSink
    pactl set-default-sink bed_sink
    ;;
  reset)
    if [ "$(rate_now)" != "$bed_rate" ] || [ -e "$dir/speakers-rate" ]; then
      unload_sink bed_sink
      unload_sink bed_speakers
      echo "$bed_rate" > "$dir/rate"
      rm -f "$dir/speakers-rate"
    fi
    make_sink bed_sink BedSink
    make_sink bed_speakers BedSpeakers
    pactl set-default-sink bed_sink
    for s in $(pactl list short sinks | cut -f2); do
      case "$s" in bed_sink | bed_speakers) ;; *) unload_sink "$s" ;; esac
    done
    pactl set-default-source bed_sink.monitor
    quiet=$(pactl list short modules | awk '$2 == "module-null-source" && /source_name=bed_quiet/ {print $1}')
    if [ -n "$quiet" ]; then pactl unload-module "$quiet"; fi
    ;;
  rate-[0-9]*)
    unload_sink bed_sink
    unload_sink bed_speakers
    rates=${cmd#rate-}
    echo "${rates%%-*}" > "$dir/rate"
    rm -f "$dir/speakers-rate"
    [ "${rates#*-}" != "$rates" ] && echo "${rates#*-}" > "$dir/speakers-rate"
    make_sink bed_sink BedSink
    make_sink bed_speakers BedSpeakers "$(cat "$dir/speakers-rate" 2>/dev/null || rate_now)"
    pactl set-default-sink bed_sink
    pactl set-default-source bed_sink.monitor
    ;;
  *) echo "bed-sound: start, stop, line-silent, unplug, no-sink, plug, reset rate-HZ or rate-HZ-HZ2" >&2; exit 2 ;;
esac
