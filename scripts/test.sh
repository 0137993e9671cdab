#!/usr/bin/env bash
# Builds kurv and runs the whole test suite twice: a plain optimised build,
# then a build with AddressSanitizer and UndefinedBehaviorSanitizer (both
# replay the committed fuzz inputs), then a short fuzzing run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh clang libclang-rt-14-dev
jobs=$(nproc 2>/dev/null || echo 2)

cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKURV_SANITIZE=ON -DKURV_BUILD_BENCH=OFF
cmake --build build-sanitize -j"$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-sanitize --output-on-failure -j"$jobs"

# Fuzzing: a minute per target, when clang and its libFuzzer runtime are there
# (Debian's clang brings the runtime through the recommended libclang-rt-14-dev).
probe=$(mktemp -d)
if command -v clang++ >/dev/null &&
   echo 'extern "C" int LLVMFuzzerTestOneInput(const char*, unsigned long) { return 0; }' |
     clang++ -x c++ -fsanitize=fuzzer,address,undefined - -o "$probe/probe" 2>/dev/null; then
  bash scripts/fuzz.sh 60
else
  echo "Skipped fuzzing: clang++ with libFuzzer (packages clang, libclang-rt-14-dev) is not installed."
fi
rm -rf "$probe"
