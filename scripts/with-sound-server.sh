#!/usr/bin/env bash
# Runs a command with a private PulseAudio server whose only output is a null
# sink, so that every sound really plays and can be recorded from the sink's
# monitor. The server lives in a folder of its own and is stopped by its
# process id when the command ends; the command's status is returned. Where
# the server cannot start, the command runs without it (the tests that need
# sound skip themselves and say why).
#   with-sound-server.sh COMMAND [ARGUMENT...]
set -uo pipefail

runtime=$(mktemp -d)
server=
stop_server() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null
    wait "$server" 2>/dev/null
  fi
  rm -rf "$runtime"
}
trap stop_server EXIT

start_server() {
  command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed" >&2; return 1; }
  mkdir -p "$runtime/pulse" "$runtime/home"
  # No configuration files, no D-Bus, no autospawn: only the modules named
  # here. norewinds keeps the sink from rendering ahead and rewinding, which
  # would cut the first milliseconds of each sound from the monitor.
  XDG_RUNTIME_DIR=$runtime PULSE_RUNTIME_PATH=$runtime/pulse HOME=$runtime/home \
    pulseaudio --daemonize=no --system=no -n --use-pid-file=no --disallow-exit \
      --exit-idle-time=-1 --disable-shm=yes --log-target=stderr --log-level=error \
      --load="module-null-sink sink_name=tavrin_null norewinds=1 rate=44100 channels=2" \
      --load="module-native-protocol-unix auth-anonymous=1 socket=$runtime/pulse/native" \
      --load="module-always-sink" \
      2>"$runtime/server.log" &
  server=$!
  export PULSE_SERVER=unix:$runtime/pulse/native
  for _ in $(seq 100); do
    [ -S "$runtime/pulse/native" ] && return 0
    kill -0 "$server" 2>/dev/null || break
    sleep 0.05
  done
  echo "the sound server did not start: $(cat "$runtime/server.log")" >&2
  unset PULSE_SERVER
  return 1
}

if start_server; then
  echo "Sound server: $PULSE_SERVER (process $server)"
else
  echo "Running without a sound server" >&2
  server=
fi
# The clients must not start a server of their own.
export PULSE_CLIENTCONFIG=$runtime/client.conf
echo "autospawn = no" >"$PULSE_CLIENTCONFIG"
"$@"
