#!/usr/bin/env bash
# Builds the three fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for SECONDS (default 60), starting
# from a copy of its committed corpus (tests/fixtures/fuzz). Exits non-zero
# when any target crashes or a sanitizer reports; the input that did it is
# left in build-fuzz/ (crash-*, leak-*, oom-*, timeout-*): add it to the
# target's corpus folder once its cause is mended, so ctest replays it.
set -uo pipefail
cd "$(dirname "$0")/.."
# One BLAS thread: with OpenBLAS's worker threads alive, a timeout's signal
# can reach two threads at once and the sanitizer's report of it aborts
# (counted as a crash) instead of ending the input cleanly.
export OPENBLAS_NUM_THREADS=1
seconds=${1:-60}
out=build-fuzz
mkdir -p "$out"
flags=(-std=c++20 -g -O2 -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=undefined -Isrc -Itests -I/usr/include/x86_64-linux-gnu)
# The report of a timeout unwinds the stack from a signal handler; the slow
# unwinder sometimes faults there (a few runs in ten here) and turns the timeout
# into a crash. Frame pointers make the fast one complete.
export ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}fast_unwind_on_fatal=1
table=(src/cli/data_table.cpp src/cli/number_text.cpp)
set -e
clang++ "${flags[@]}" tests/fuzz/fuzz_csv_reader.cpp src/cli/csv_reader.cpp "${table[@]}" \
  -o "$out/fuzz_csv_reader"
clang++ "${flags[@]}" tests/fuzz/fuzz_dta_reader.cpp src/cli/dta_file.cpp "${table[@]}" -lreadstat \
  -o "$out/fuzz_dta_reader"
# A whole run spends its time in the likelihood and minimizer loops, whose
# integer comparisons (loop bounds) give the fuzzer nothing to steer by:
# leaving them untraced makes a run about three times faster. Branch
# coverage and the sanitizers stay everywhere.
mkdir -p "$out/obj"
objects=()
# The engine's folders, as the CMake project lists them (so that a new
# subsystem is linked here too).
subsystems=$(sed -n 's/^set(KURV_SUBSYSTEMS \(.*\))$/\1/p' CMakeLists.txt)
engine_sources=$(for d in $subsystems; do ls src/"$d"/*.cpp; done | grep -v plugin_entry)
for f in tests/fuzz/fuzz_run_command.cpp tests/support/memory_host.cpp $engine_sources; do
  extra=()
  case $f in src/models/* | src/optim/* | src/randomeffects/*) extra=(-fno-sanitize-coverage=trace-cmp) ;; esac
  objects+=("$out/obj/$(echo "$f" | tr / _).o")
  clang++ "${flags[@]}" "${extra[@]}" -c "$f" -o "${objects[-1]}"
done
clang++ "${flags[@]}" "${objects[@]}" -lopenblas -o "$out/fuzz_run_command"
set +e

failed=0
run() {  # target corpus-folder accepted-exit-code libFuzzer-options...
  local target=$1 corpus=$2 accepted=$3
  shift 3
  mkdir -p "$out/corpus-$corpus"
  cp tests/fixtures/fuzz/"$corpus"/* "$out/corpus-$corpus/"
  echo "== $target: $seconds s"
  "$out/$target" "$out/corpus-$corpus" -max_total_time="$seconds" -artifact_prefix="$out/" \
    -print_final_stats=1 "$@"
  local code=$?
  if [ "$code" -ne 0 ] && [ "$code" -ne "$accepted" ]; then
    echo "== $target FAILED (exit $code): see the report above and the input left in $out/" >&2
    failed=1
  fi
}
run fuzz_csv_reader csv 0 -max_len=2000
run fuzz_dta_reader dta 0 -max_len=8000
# Some whole runs are fits that may go on for hours (a likelihood without a
# minimum on fuzzed data creeps towards the minimizer's iteration limit):
# each input runs in a child process, and one past 20 s is set aside rather
# than stalling the run. Crashes, sanitizer reports and running out of
# memory still fail it. In fork mode the parent exits with the code of the
# last child it collected, so when the time budget runs out just after a
# set-aside slow input it exits with the timeout code although nothing
# failed: that code (70, given explicitly) is accepted for this target.
run fuzz_run_command run-command 70 -max_len=400 -rss_limit_mb=4096 \
  -fork=1 -timeout=20 -timeout_exitcode=70 -ignore_timeouts=1 -ignore_ooms=0 -ignore_crashes=0
exit $failed
