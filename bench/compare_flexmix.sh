#!/usr/bin/env bash
# One fit side by side with R's general mixture package flexmix: simulated
# censored-normal data far inside its bounds (so the model is a plain normal
# mixture with one shared sigma), 3 groups (30/45/25%) of quadratic
# trajectories, 10 periods, sigma 4. Prints both times, both log-likelihoods
# and the ratio of the times. Not run by CI.
#
#   bash bench/compare_flexmix.sh [SUBJECTS] [PERIODS]      (default 10000 10)
#
# Installs R and flexmix with apt-get when they are missing; builds kurv in
# build/ when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
N=${1:-10000}
T=${2:-10}
KURV=build/kurv
if [ ! -x "$KURV" ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null && cmake --build build -j"$(nproc)" --target kurv >/dev/null
fi
if ! Rscript -e 'library(flexmix)' >/dev/null 2>&1; then
  apt-get install -y r-base-core r-cran-flexmix >/dev/null
fi
command -v bc >/dev/null || apt-get install -y bc >/dev/null
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
times=$(seq 1 "$T" | tr '\n' ' ')
"$KURV" simulate --model cnorm --groups 30:5,0.5,0.02 45:10,4,-0.2 25:30,6,-0.8 --times $times \
  --sigma 4 --min -1000 --max 1000 --n "$N" --seed 11 --out "$work/data.csv" >/dev/null

start=$(date +%s.%N)
"$KURV" fit "$work/data.csv" --var "y1-y$T" --indep "t1-t$T" --model cnorm --order 2 2 2 \
  --min -1000 --max 1000 --out "$work/kurv" >"$work/kurv.txt"
end=$(date +%s.%N)
kurv_seconds=$(echo "$end - $start" | bc -l)
kurv_loglik=$(python3 -c "import json; print(json.load(open('$work/kurv/fit.json'))['loglik'])")

cat >"$work/fit.R" <<EOF
suppressMessages(library(flexmix))
wide <- read.csv("$work/data.csv")
T <- $T
long <- data.frame(id = rep(wide\$id, each = T),
                   y = as.vector(t(as.matrix(wide[, paste0("y", 1:T)]))),
                   t = as.vector(t(as.matrix(wide[, paste0("t", 1:T)]))))
long <- long[!is.na(long\$y), ]
set.seed(1)
elapsed <- system.time(
  fit <- flexmix(y ~ t + I(t^2) | id, data = long, k = 3, model = FLXMRglmfix(varFix = TRUE))
)["elapsed"]
cat(sprintf("%.3f %.6f\n", elapsed, logLik(fit)))
EOF
read -r r_seconds r_loglik < <(Rscript "$work/fit.R")

printf 'subjects %s, periods %s, cores %s\n' "$N" "$T" "$(nproc)"
printf 'kurv fit (with standard errors): %8.2f s  log-likelihood %s\n' "$kurv_seconds" "$kurv_loglik"
printf 'flexmix (one start):            %8.2f s  log-likelihood %s\n' "$r_seconds" "$r_loglik"
printf 'time ratio flexmix / kurv: %.1f\n' "$(echo "$r_seconds / $kurv_seconds" | bc -l)"
printf 'relative difference of the maxima: %.2e\n' \
  "$(python3 -c "print(abs($kurv_loglik - ($r_loglik)) / abs($r_loglik))")"
