#include "intake/observation_intake.h"

#include <algorithm>
#include <cmath>

#include "core/text_format.h"

namespace kurv {

DataLayout singleRunLayout(const ModelContext& ctx) {
  DataLayout L{};
  int v = 1;
  auto take = [&v](int width) {
    const int first = v;
    v += width;
    return first;
  };
  L.outcome[0] = take(ctx.nPeriods[0]);
  L.time[0] = take(ctx.nPeriods[0]);
  L.risk[0] = take(ctx.nRisk[0]);
  L.weight = ctx.hasWeights ? take(1) : 0;
  L.exposure[0] = take(ctx.nExposure[0]);
  L.tcov[0] = take(ctx.nTcov[0]);
  L.outcomeValue = ctx.hasOutcome ? take(1) : 0;
  L.dcov = take(ctx.nDcov);
  L.exempt = ctx.hasDropoutExempt ? take(1) : 0;
  L.outcome[1] = take(ctx.nPeriods[1]);
  L.time[1] = take(ctx.nPeriods[1]);
  L.risk[1] = take(ctx.nRisk[1]);
  L.exposure[1] = take(ctx.nExposure[1]);
  L.tcov[1] = take(ctx.nTcov[1]);
  L.next = v;
  return L;
}

namespace {

// Running sums of one model's usable outcomes.
struct MomentSums {
  double sum = 0.0;
  double sumSquares = 0.0;
  double count = 0.0;

  void add(double y) {
    sum += y;
    sumSquares += y * y;
    count += 1.0;
  }
  double mean() const { return sum / count; }
  // Population standard deviation, or `fallback` when the variance is not
  // positive (all values equal, or a single value).
  double sd(double fallback) const {
    const double m = mean();
    const double variance = sumSquares / count - m * m;
    return variance > 0.0 ? std::sqrt(variance) : fallback;
  }
};

class Reader {
 public:
  explicit Reader(ModelContext& ctx) : ctx_(ctx), host_(*ctx.host), missing_(host_.missingValue()) {}

  // A value the host cannot give is treated as missing.
  double read(int variable, int observation) {
    double value = missing_;
    if (host_.readVariable(variable, observation, &value) != 0) return missing_;
    return value;
  }
  bool isMissing(double value) { return host_.isMissing(value); }

 private:
  ModelContext& ctx_;
  Host& host_;
  double missing_;
};

}  // namespace

void reportSubjectsUsed(const ModelContext& ctx, int remaining) {
  Host& host = *ctx.host;
  if (remaining != ctx.nSubjects) {
    if (ctx.nExcluded == 0)
      host.display(formatText("%d had no trajectory data.\n", remaining - ctx.nSubjects).c_str());
    else
      host.display(formatText("Of the remaining %d observations, %d had no trajectory data.\n", remaining,
                              remaining - ctx.nSubjects)
                       .c_str());
  }
  host.display(formatText("%d observations used in trajectory model.\n", ctx.nSubjects).c_str());
  host.display(" \n");
}

int readObservations(ModelContext& ctx) {
  Host& host = *ctx.host;
  Reader reader(ctx);
  const DataLayout L = singleRunLayout(ctx);
  const int nModelsRead = ctx.nPeriods[1] > 0 ? 2 : 1;

  ctx.nSubjects = 0;
  ctx.nExcluded = 0;
  ctx.nMeasurements = 0;
  ctx.completeLength = 0;
  MomentSums ySums[2];
  MomentSums outcomeSums;
  double weightSum = 0.0;
  std::vector<std::vector<double>> timeSums(2);
  for (int m = 0; m < nModelsRead; ++m) {
    timeSums[m].assign(static_cast<std::size_t>(ctx.nPeriods[m]), 0.0);
    ctx.periodN[m].assign(static_cast<std::size_t>(ctx.nPeriods[m]), 0.0);
  }

  // The host's count is asked again after each observation; the arrays were
  // sized at preparation, so the loop never runs past them.
  for (int i = 0; i < host.observationCount() && i < ctx.nObs; ++i) {
    const int obs = i + 1;
    ctx.firstPeriod[i] = -1;
    ctx.excluded[i] = 0;
    ctx.included[i] = 1;
    bool missingRisk = false;
    bool invalidWeight = false;

    for (int m = 0; m < nModelsRead; ++m) {
      const int T = ctx.nPeriods[m];
      for (int j = 0; j < T; ++j) ctx.outcomeY[m][j][i] = reader.read(L.outcome[m] + j, obs);
      for (int j = 0; j < T; ++j) ctx.timeT[m][j][i] = reader.read(L.time[m] + j, obs);
      for (int r = 0; r < ctx.nRisk[m]; ++r) {
        const double value = reader.read(L.risk[m] + r, obs);
        ctx.risk[m][r][i] = value;
        if (reader.isMissing(value)) missingRisk = true;
      }
      if (m == 0 && ctx.hasWeights) {
        const double w = reader.read(L.weight, obs);
        if (reader.isMissing(w) || !(w > 0.0)) {
          invalidWeight = true;
        } else {
          ctx.weight[i] = w;
          weightSum += w;
        }
      }
      for (int e = 0; e < ctx.nExposure[m]; ++e) ctx.exposure[m][e][i] = reader.read(L.exposure[m] + e, obs);
      for (int c = 0; c < ctx.nTcov[m]; ++c) ctx.tcov[m][c][i] = reader.read(L.tcov[m] + c, obs);
      if (m == 0) {
        if (ctx.hasOutcome) ctx.outcomeValue[i] = reader.read(L.outcomeValue, obs);
        for (int c = 0; c < ctx.nDcov; ++c) ctx.dcov[c][i] = reader.read(L.dcov + c, obs);
        if (ctx.hasDropoutExempt) {
          const double e = reader.read(L.exempt, obs);
          ctx.dropoutExempt[i] = reader.isMissing(e) || !std::isfinite(e) ? 0 : static_cast<int>(e);
        }
      }
    }

    if (missingRisk || invalidWeight || !host.isSelected(obs)) {
      ctx.nExcluded += 1;
      ctx.included[i] = 0;
      ctx.excluded[i] = 1;
      continue;
    }

    int usableModel1 = 0;
    int usableAny = 0;
    for (int m = 0; m < nModelsRead; ++m) {
      const int T = ctx.nPeriods[m];
      const int perPeriod = ctx.nTcov[m] / T;
      for (int j = 0; j < T; ++j) {
        const double y = ctx.outcomeY[m][j][i];
        const double t = ctx.timeT[m][j][i];
        if (reader.isMissing(y) || reader.isMissing(t)) continue;
        bool covariateMissing = false;
        for (int c = 0; c < perPeriod; ++c)
          if (reader.isMissing(ctx.tcov[m][c * T + j][i])) covariateMissing = true;
        if (covariateMissing) continue;
        ctx.nMeasurements += 1;
        ++usableAny;
        if (m == 0) {
          ++usableModel1;
          if (ctx.firstPeriod[i] < 0) ctx.firstPeriod[i] = j;
        }
        ySums[m].add(y);
        timeSums[m][j] += t;
        ctx.periodN[m][j] += 1.0;
      }
    }
    if (usableAny > 0) ctx.nSubjects += 1;
    if (usableModel1 > ctx.completeLength) ctx.completeLength = usableModel1;

    if (ctx.hasOutcome && !reader.isMissing(ctx.outcomeValue[i])) outcomeSums.add(ctx.outcomeValue[i]);

    int last = ctx.nPeriods[0];
    while (last > 0 && reader.isMissing(ctx.outcomeY[0][last - 1][i])) --last;
    ctx.lastPeriod[i] = last;
  }

  // Mean time of each period over the subjects usable in it.
  const double missing = host.missingValue();
  for (int m = 0; m < nModelsRead; ++m)
    for (int j = 0; j < ctx.nPeriods[m]; ++j)
      ctx.meanTime[m][j] = ctx.periodN[m][j] < 1.0 ? missing : timeSums[m][j] / ctx.periodN[m][j];

  // Start-value ranges: two standard deviations around the mean; a LOGIT
  // model uses the binomial deviation and stays inside [0, 1].
  if (ySums[0].count > 0.0) {
    const double mean = ySums[0].mean();
    ctx.ySd[0] = ySums[0].sd(0.01);
    if (ctx.modelKind[0] == kLogit) {
      const double s = std::sqrt((1.0 - mean) * mean);
      ctx.yMin[0] = mean - 2.0 * s;
      if (ctx.yMin[0] < 0.0) ctx.yMin[0] = 0.0;
      ctx.yMax[0] = mean + 2.0 * s;
      if (ctx.yMax[0] > 1.0) ctx.yMax[0] = 1.0;
    } else {
      ctx.yMin[0] = mean - 2.0 * ctx.ySd[0];
      ctx.yMax[0] = mean + 2.0 * ctx.ySd[0];
    }
  }

  if (outcomeSums.count > 0.0) {
    double mean = outcomeSums.mean();
    double sd = outcomeSums.sd(0.01);
    if (ctx.omodelKind == 3) {
      mean = std::log(mean);
      sd = std::log(sd);
    } else if (ctx.omodelKind == 2) {
      mean = std::log(mean / (1.0 - mean));
      sd = std::log(sd / (1.0 - sd));
    }
    ctx.outcomeSd = sd;
    ctx.outcomeMin = mean - 2.0 * sd;
    ctx.outcomeMax = mean + 2.0 * sd;
  }

  // Weights are scaled to average 1 over all observations.
  if (ctx.hasWeights && weightSum > 0.0) {
    const double scale = weightSum / host.observationCount();
    for (double& w : ctx.weight) w /= scale;
  }

  if (ctx.nGroups[1] > 0 && ySums[1].count > 0.0) {
    const double mean = ySums[1].mean();
    ctx.ySd[1] = ySums[1].sd(0.01);
    ctx.yMin[1] = mean - 2.0 * ctx.ySd[1];
    ctx.yMax[1] = mean + 2.0 * ctx.ySd[1];
  }

  ctx.nNotExcluded = ctx.nObs - ctx.nExcluded;
  // The arrays were sized for the count at preparation; never look past them.
  ctx.nObs = std::min(host.observationCount(), ctx.nObs);
  ctx.outVarBase = L.next;

  // Report.
  host.display(" \n");
  host.display(formatText("%d observations read.\n", ctx.nObs).c_str());
  if (ctx.nExcluded != 0) {
    const char* format = ctx.hasWeights ? "%d excluded by if condition, missing values in risk variables, or weights = 0.\n"
                         : ctx.nRisk[0] + ctx.nRisk[1] > 0
                             ? "%d excluded by if condition or by missing values in risk variables.\n"
                             : "%d excluded by if condition.\n";
    host.display(formatText(format, ctx.nExcluded).c_str());
  }
  reportSubjectsUsed(ctx, ctx.nObs - ctx.nExcluded);
  if (ctx.nDropoutOrder > 0) {
    host.display(formatText("Complete data length is %d for dropout model.", ctx.completeLength).c_str());
    host.display(" \n");
  }
  return 0;
}

}  // namespace kurv
