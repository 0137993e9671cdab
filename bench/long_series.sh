#!/usr/bin/env bash
# Long series side by side with R's flexmix: a two-group normal mixture
# (40% / 60%, linear trajectories 10 + 0.6 t and 16 - 0.4 t, sigma 4) over
# PERIODS periods at times j / 20, fitted by kurv fit (with standard errors,
# start values from the data) and by flexmix (y ~ t | id, one shared sigma,
# started from the same split by mean outcome). Each subject's likelihood is
# a product of PERIODS densities, far below the smallest double: only a
# log-domain evaluation can fit it. Prints both times, both log-likelihoods,
# and the relative difference of the maxima. Not run by CI.
#
#   bash bench/long_series.sh [SUBJECTS] [PERIODS] [flexmix]   (default 200 300 flexmix)
#
# A third argument other than "flexmix" skips R (e.g. for 1,000 periods).
set -euo pipefail
cd "$(dirname "$0")/.."
N=${1:-200}
T=${2:-300}
WITH_R=${3:-flexmix}
KURV=build/kurv
if [ ! -x "$KURV" ]; then
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null && cmake --build build -j"$(nproc)" --target kurv >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
times=$(seq 1 "$T" | awk '{ printf "%s ", $1 / 20 }')
"$KURV" simulate --model cnorm --groups 40:10,0.6 60:16,-0.4 --times $times --sigma 4 \
  --min -1000 --max 1000 --n "$N" --seed 5 --out "$work/data.csv" >/dev/null

start=$(date +%s.%N)
"$KURV" fit "$work/data.csv" --var "y1-y$T" --indep "t1-t$T" --model cnorm --order 1 1 \
  --min -1000 --max 1000 --out "$work/kurv" >"$work/kurv.txt"
end=$(date +%s.%N)
kurv_seconds=$(echo "$end - $start" | bc -l)
kurv_loglik=$(python3 -c "import json; print(json.load(open('$work/kurv/fit.json'))['loglik'])")
printf 'subjects %s, periods %s, cores %s\n' "$N" "$T" "$(nproc)"
printf 'kurv fit (with standard errors): %8.2f s  log-likelihood %s\n' "$kurv_seconds" "$kurv_loglik"
[ "$WITH_R" = flexmix ] || exit 0

cat >"$work/fit.R" <<REOF
suppressMessages(library(flexmix))
wide <- read.csv("$work/data.csv")
T <- $T
y <- as.matrix(wide[, paste0("y", 1:T)])
long <- data.frame(id = rep(seq_len(nrow(y)), each = T), y = as.vector(t(y)),
                   t = as.vector(t(as.matrix(wide[, paste0("t", 1:T)]))))
cluster <- ifelse(rowMeans(y) > median(rowMeans(y)), 2, 1)
elapsed <- system.time(
  fit <- flexmix(y ~ t | id, data = long, k = 2, cluster = rep(cluster, each = T),
                 model = FLXMRglmfix(varFix = TRUE))
)["elapsed"]
cat(sprintf("%.3f %.6f\n", elapsed, logLik(fit)))
REOF
read -r r_seconds r_loglik < <(Rscript "$work/fit.R")
printf 'flexmix:                         %8.2f s  log-likelihood %s\n' "$r_seconds" "$r_loglik"
printf 'relative difference of the maxima: %.2e\n' \
  "$(python3 -c "print(abs($kurv_loglik - ($r_loglik)) / abs($r_loglik))")"
