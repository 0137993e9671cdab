#!/usr/bin/env bash
# Builds the fuzz targets with clang's libFuzzer, AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs each for SECONDS (default 60).
# Not part of the test suite: run it by hand after changing input handling.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
out=build-fuzz
mkdir -p "$out/corpus-csv" "$out/corpus-run"
flags=(-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined
       -Isrc -Itests -I/usr/include/x86_64-linux-gnu)
engine=$(ls src/{plugin,intake,models,optim,report}/*.cpp | grep -v plugin_entry)
clang++ "${flags[@]}" tests/fuzz/fuzz_csv_reader.cpp src/cli/csv_reader.cpp src/cli/data_table.cpp \
  src/cli/number_text.cpp -o "$out/fuzz_csv_reader"
clang++ "${flags[@]}" tests/fuzz/fuzz_run_command.cpp tests/support/memory_host.cpp $engine -lopenblas \
  -o "$out/fuzz_run_command"
cp tests/fixtures/cli/small.csv "$out/corpus-csv/" 2>/dev/null || true
"$out/fuzz_csv_reader" "$out/corpus-csv" -max_total_time="$seconds" -max_len=2000
"$out/fuzz_run_command" "$out/corpus-run" -max_total_time="$seconds" -max_len=400 -rss_limit_mb=4096
