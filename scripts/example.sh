#!/usr/bin/env bash
# Fits the bundled example with the command-line program: installs what is
# missing, builds the program, fits a three-group censored normal model to
# examples/trajectories.csv, prints the results table and writes the output
# folder build/example-output (fit.json, posteriors.csv, plot1.csv,
# trajectories.svg).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
jobs=$(nproc 2>/dev/null || echo 2)
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
cmake --build build -j"$jobs" --target kurv > /dev/null
out=build/example-output
./build/kurv fit examples/trajectories.csv --var y1-y6 --indep t1-t6 --model cnorm \
    --order 1 1 2 --min 0 --max 60 --id id --out "$out"
echo "Open $out/trajectories.svg in a browser to see the fitted trajectories."
