#!/usr/bin/env bash
# Installs what is missing, builds and runs every test headless under Xvfb,
# then the same tests built with AddressSanitizer + UndefinedBehaviorSanitizer,
# then the tests of the threaded code built with ThreadSanitizer, then every
# fuzz target, sanitized too, on a fixed set of generated inputs
# (FUZZ_SECONDS=N explores with fresh random inputs for N seconds instead).
set -euo pipefail
cd "$(dirname "$0")"
./setup.sh
jobs=$(nproc)
# Without HOME (a service, a minimal container) the cache lives in the build.
if [ -z "${CCACHE_DIR:-}" ]; then
  if [ -n "${HOME:-}" ]; then CCACHE_DIR=$HOME/.cache/orvanta-ccache; else CCACHE_DIR=$PWD/build/.ccache; fi
fi
export CCACHE_DIR

# Warnings fail the build only where ORVANTA_WERROR=ON asks for it (CI does).
werror="-DORVANTA_WERROR=${ORVANTA_WERROR:-OFF}"

# with_display COMMAND...: runs it with an X server of its own for all its
# window tests, on the first free display number, with a cookie in the build
# folder (xvfb-run hands its cookie's path to the server unquoted, so a TMPDIR
# with a space broke it). The server takes every cookie in its file at start,
# so the one made for display 0 also serves the number it then picks.
# -noreset: by default the server resets whenever its last client leaves,
# and a test that connects during the reset finds no display (a fault of the
# harness that looked like a crash).
x_files=$PWD/build
with_display() {
  local auth=$x_files/.Xauthority number=$x_files/.display cookie server status=0 _
  mkdir -p "$x_files"
  rm -f "$auth" "$number"
  cookie=$(mcookie)
  xauth -q -f "$auth" add :0 . "$cookie" 2>/dev/null
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -noreset -nolisten tcp -auth "$auth" 3>"$number" >/dev/null 2>&1 &
  server=$!
  trap "kill $server 2>/dev/null" EXIT
  for _ in $(seq 1 300); do
    [ -s "$number" ] || ! kill -0 "$server" 2>/dev/null && break
    sleep 0.1
  done
  [ -s "$number" ] || { echo "Xvfb did not start"; return 1; }
  xauth -q -f "$auth" add ":$(cat "$number")" . "$cookie"
  DISPLAY=":$(cat "$number")" XAUTHORITY=$auth "$@" || status=$?
  kill "$server"
  wait "$server" 2>/dev/null || true
  trap - EXIT
  return $status
}

echo "== Release build and tests"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release "$werror" >/dev/null
cmake --build build
(cd build && with_display ctest --output-on-failure -j "$jobs")

# ctest gives each test a process of its own. Here the whole test program runs
# in one process, in an order shuffled anew each run, so a test that leans on
# what another left behind (a global, a grown heap, a thread) fails.
seed=$((RANDOM % 99999 + 1))
echo "== The Release tests in one process, shuffled with seed $seed"
if ! (cd build && with_display ./orvanta_tests --gtest_brief=1 --gtest_shuffle --gtest_random_seed="$seed"); then
  echo "To repeat this order: build/orvanta_tests --gtest_shuffle --gtest_random_seed=$seed"
  exit 1
fi

echo "== AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTA_SANITIZE=ON "$werror" >/dev/null
cmake --build build-asan
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# GTK and fontconfig keep caches for the life of the process; they are not ours.
# The sanitizers split their options at spaces and colons unless quoted,
# with no escape for the quote itself.
supp=$PWD/tests/lsan.supp
case $supp in
  *\'*) supp="\"$supp\"" ;;
  *) supp="'$supp'" ;;
esac
export LSAN_OPTIONS=suppressions=$supp:print_suppressions=0
(cd build-asan && with_display ctest --output-on-failure -j "$jobs")

echo "== ThreadSanitizer build and the tests of the code that runs on several threads"
# The band pool and its loops, the batch's overlapped items and the PNG
# reader's inflating thread (see ORVANTA_TSAN in CMakeLists.txt). The first
# race report fails its test. ThreadSanitizer cannot follow a child forked
# while threads run, which is the point of the pool's fork test: that one is
# left to the other builds.
cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORVANTA_TSAN=ON "$werror" >/dev/null
cmake --build build-tsan
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:exitcode=66 \
  ctest --output-on-failure -j "$jobs" -E 'ParallelTest\.BandsRunConcurrentlyAlsoInAForkedChild')

if ls tests/fuzz/fuzz_*.cpp >/dev/null 2>&1; then
  echo "== Fuzz targets under AddressSanitizer + UndefinedBehaviorSanitizer"
  CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORVANTA_FUZZ=ON -DORVANTA_GUI=OFF "$werror" >/dev/null
  cmake --build build-fuzz
  bash tests/fuzz/run_all.sh build-fuzz ${FUZZ_SECONDS:+"$FUZZ_SECONDS"}
fi
echo "All tests passed."
