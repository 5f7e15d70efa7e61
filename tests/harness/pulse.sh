# Sourced by the tests that need a sound server. start_pulse DIR starts a private
# PulseAudio (its runtime and home under DIR) with one null sink, "show", as the
# default output, and returns once it answers: it sets pulse (the server's process) and
# exports PULSE_SERVER. False when it did not come up within 10 seconds (its log is
# DIR/pulseaudio.log).
start_pulse() {
  export XDG_RUNTIME_DIR=$1/runtime HOME=$1
  mkdir -m 700 -p "$XDG_RUNTIME_DIR"
  pulseaudio --daemonize=no --exit-idle-time=-1 -n --use-pid-file=no --disallow-exit \
    --load="module-null-sink sink_name=show" --load="module-native-protocol-unix auth-anonymous=1" \
    >"$1/pulseaudio.log" 2>&1 &
  pulse=$!
  export PULSE_SERVER=unix:$XDG_RUNTIME_DIR/pulse/native
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl info >/dev/null 2>&1 || return 1
  pactl set-default-sink show
}
