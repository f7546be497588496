#!/usr/bin/env bash
# Synthesises the program's seven sounds into resources/. The files are kept
# in the repository; this script documents how they were made and remakes
# them identically (-R: fixed seed for the noise and the pluck, -D: no dither).
set -euo pipefail
out="$(cd "$(dirname "$0")/.." && pwd)/resources"
pcm=(-r 44100 -b 16 -c 1 -e signed-integer)
air_band() { # one tenth of a second of noise around a centre frequency
  echo "|sox -R -D -n -p synth 0.1 whitenoise bandpass $1 1.5q"
}

sox -R -D -n "${pcm[@]}" "$out/RSTART.wav" synth 0.35 sine 523-1047 fade h 0.01 0.35 0.12 vol 0.6
sox -R -D -n "${pcm[@]}" "$out/RCLICK.wav" synth 0.008 square 1500 fade h 0 0.008 0.006 vol 0.5
sox -R -D -n -r 22050 -c 2 -e ima-adpcm "$out/RTICK.wav" synth 0.012 sine 3000 fade h 0 0.012 0.01 vol 0.7
sox -R -D -n "${pcm[@]}" "$out/RPOP.wav" synth 0.03 sine 900-150 fade h 0 0.03 0.02 vol 0.7
sox -R -D -n -r 22050 -b 8 -c 1 -e mu-law "$out/RSTRUM.wav" synth 0.19 pluck A3 fade h 0 0.19 0.1 vol 0.8
sox -R -D -n "${pcm[@]}" "$out/REXIT.wav" synth 2.0 sine 660-165 tremolo 6 40 fade h 0.02 2.0 1.2 vol 0.6
sox -R -D "$(air_band 300)" "$(air_band 550)" "$(air_band 900)" "$(air_band 1500)" \
  "$(air_band 2400)" "$(air_band 3800)" "${pcm[@]}" "$out/RAIR.wav" \
  fade h 0.05 0.6 0.25 norm -6
