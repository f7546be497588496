#!/usr/bin/env bash
# The random-action stress run, on demand (never part of the test run): builds
# the program with AddressSanitizer and UndefinedBehaviorSanitizer into
# build-stress/, then drives it under a private X server and a private sound
# server. Arguments go to stress.py (--actions N, --seed S, --check-every K).
#   tests/stress/run.sh [--actions 10000] [--seed 14]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build=$root/build-stress
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTAVRIN_BUILD_BENCH=OFF -DBUILD_TESTING=OFF \
  -DCMAKE_CXX_FLAGS="-fsanitize=address,undefined -fno-omit-frame-pointer" \
  -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
nice -n 10 cmake --build "$build" -j2 --target tavrin tavrin-render
for tool in "$root/tests/stress/ping_window.cpp" "$root/tests/e2e/close_window.cpp"; do
  g++ -O2 -o "$build/$(basename "$tool" .cpp)" "$tool" -lX11
done
# Leaks are reported, except what Qt and the system's libraries keep until
# the process ends (lsan.supp names each).
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1
export LSAN_OPTIONS=suppressions=$root/tests/stress/lsan.supp:print_suppressions=0
exec nice -n 10 "$root/scripts/with-sound-server.sh" xvfb-run -a -s "-screen 0 1024x768x24" \
  python3 "$root/tests/stress/stress.py" "$build/src/tavrin" "$build/tools/tavrin-render" \
  "$build/ping_window" "$build/close_window" "$@"
