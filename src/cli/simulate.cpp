#include "cli/simulate.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <random>

#include "cli/atomic_files.h"
#include "cli/column_list.h"
#include "cli/dta_file.h"
#include "cli/engine_call.h"
#include "cli/number_text.h"
#include "cli/user_error.h"

namespace kurv::cli {
namespace {

// Random numbers built only from the 64-bit Mersenne Twister's raw output,
// whose sequence the C++ standard fixes, so that a seed gives the same data
// with every standard library (the library's distributions are not fixed).
class Random {
 public:
  explicit Random(std::uint64_t seed) : engine_(seed) {}

  // Uniform on [0, 1): the top 53 bits scaled by 2^-53.
  double uniform() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

  // Standard normal by the Box-Muller transform; 1 - u keeps log away from 0.
  double normal() {
    const double u1 = 1.0 - uniform();
    const double u2 = uniform();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * M_PI * u2);
  }

  // Poisson(lambda) by Knuth's product of uniforms, which needs about lambda
  // uniforms and exp(-lambda) well above underflow; a larger mean is split
  // into parts of at most 30, since a sum of independent Poisson variables
  // is Poisson with the summed mean.
  long poisson(double lambda) {
    long total = 0;
    while (lambda > 0.0) {
      const double part = std::min(lambda, 30.0);
      lambda -= part;
      const double limit = std::exp(-part);
      double product = uniform();
      while (product > limit) {
        ++total;
        product *= uniform();
      }
    }
    return total;
  }

 private:
  std::mt19937_64 engine_;
};

double polynomial(const std::vector<double>& b, double t) {
  double value = 0.0, power = 1.0;
  for (double coefficient : b) {
    value += coefficient * power;
    power *= t;
  }
  return value;
}

SimulationGroup parseGroup(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos)
    throw UserError("--groups: '" + text + "' is not SHARE:b0,b1,... (for example 40:10,2.5)");
  SimulationGroup group;
  group.share = parseNumber(text.substr(0, colon), "--groups");
  if (!(group.share > 0.0)) throw UserError("--groups: the share in '" + text + "' is not above 0");
  std::string rest = text.substr(colon + 1);
  std::replace(rest.begin(), rest.end(), ',', ' ');
  for (const auto& word : splitWords({rest})) group.coefficients.push_back(parseNumber(word, "--groups"));
  if (group.coefficients.empty() || group.coefficients.size() > 6)
    throw UserError("--groups: '" + text + "' needs 1 to 6 coefficients (intercept to quintic)");
  return group;
}

// Comma-separated numbers of one word of `option`.
std::vector<double> numberList(const std::string& text, const std::string& option) {
  std::string rest = text;
  std::replace(rest.begin(), rest.end(), ',', ' ');
  std::vector<double> values;
  for (const auto& word : splitWords({rest})) values.push_back(parseNumber(word, option));
  return values;
}

void checkModelName(const std::string& model, const std::string& option) {
  if (model != "cnorm" && model != "logit" && model != "zip" && model != "poisson")
    throw UserError(option + ": '" + model + "' is not cnorm, logit, zip or poisson");
}

// The second outcome's options; `groups1` is the first outcome's number of groups.
SecondOutcome parseSecondOutcome(const SimulateOptions& o, std::size_t groups1) {
  SecondOutcome second;
  second.model = o.model2;
  checkModelName(second.model, "--model2");
  for (const auto& word : splitWords(o.groups2)) {
    second.coefficients.push_back(numberList(word, "--groups2"));
    if (second.coefficients.back().empty() || second.coefficients.back().size() > 6)
      throw UserError("--groups2: '" + word + "' needs 1 to 6 coefficients (intercept to quintic)");
  }
  if (second.coefficients.empty()) throw UserError("--model2 needs --groups2");
  const std::size_t groups2 = second.coefficients.size();
  for (const auto& word : splitWords(o.cond)) {
    std::vector<double> row = numberList(word, "--cond");
    double total = 0.0;
    for (double p : row) total += p >= 0.0 ? p : -HUGE_VAL;
    if (row.size() != groups2 || !(total > 0.0))
      throw UserError("--cond: '" + word + "' needs " + std::to_string(groups2) +
                      " probabilities of at least 0 with a positive sum");
    for (double& p : row) p /= total;
    second.cond.push_back(row);
  }
  if (second.cond.size() != groups1)
    throw UserError("--cond needs one row per group of --groups (" + std::to_string(groups1) + ")");
  second.sigma = parseNumber(o.sigma2, "--sigma2");
  if (!(second.sigma > 0.0)) throw UserError("--sigma2 must be above 0");
  if (!o.min2.empty()) second.hasMin = true, second.min = parseNumber(o.min2, "--min2");
  if (!o.max2.empty()) second.hasMax = true, second.max = parseNumber(o.max2, "--max2");
  if (second.hasMin && second.hasMax && !(second.min < second.max)) throw UserError("--min2 is not below --max2");
  if ((second.hasMin || second.hasMax) && second.model != "cnorm")
    throw UserError("--min2 and --max2 are censoring bounds of --model2 cnorm");
  second.inflation = parseNumber(o.inflation2, "--inflation2");
  if (second.inflation < 0.0 || second.inflation >= 1.0) throw UserError("--inflation2 must be from 0 to below 1");
  if (second.inflation > 0.0 && second.model != "zip") throw UserError("--inflation2 needs --model2 zip");
  return second;
}

// One measurement of kind `model` with linear predictor mu.
double drawMeasurement(Random& random, const std::string& model, double mu, double sigma, bool hasMin, double min,
                       bool hasMax, double max, double inflation, double scale) {
  double y = 0.0;
  if (model == "cnorm") {
    y = std::round((mu + sigma * random.normal()) * scale) / scale;
    if (hasMin) y = std::max(y, min);
    if (hasMax) y = std::min(y, max);
  } else if (model == "logit") {
    y = random.uniform() < 1.0 / (1.0 + std::exp(-mu)) ? 1.0 : 0.0;
  } else {
    const bool structuralZero = inflation > 0.0 && random.uniform() < inflation;
    const long count = random.poisson(std::exp(mu));
    y = structuralZero ? 0.0 : static_cast<double>(count);
  }
  return y;
}

bool knownModel(const std::string& model) {
  return model == "cnorm" || model == "logit" || model == "zip" || model == "poisson";
}

// A further outcome: its kind, one coefficient list per group, its sigma.
void parseOutcome(const std::string& model, const std::vector<std::string>& trajectories, const std::string& sigma,
                  const std::string& suffix, SimulationPlan& plan) {
  const std::vector<std::string> lists = splitWords(trajectories);
  if (model.empty()) {
    if (!lists.empty()) throw UserError("--traj" + suffix + " needs --model" + suffix);
    return;
  }
  if (!knownModel(model)) throw UserError("--model" + suffix + ": '" + model + "' is not cnorm, logit, zip or poisson");
  if (plan.moreOutcomes.size() + 2 != std::stoul(suffix)) throw UserError("--model3 needs --model2");
  if (lists.size() != plan.groups.size())
    throw UserError("--traj" + suffix + " needs one b0,b1,... per group (" + std::to_string(plan.groups.size()) + ")");
  SimulationOutcome outcome{model, {}, parseNumber(sigma, "--sigma" + suffix)};
  if (!(outcome.sigma > 0.0)) throw UserError("--sigma" + suffix + " must be above 0");
  for (std::string list : lists) {
    std::replace(list.begin(), list.end(), ',', ' ');
    std::vector<double>& b = outcome.coefficients.emplace_back();
    for (const auto& word : splitWords({list})) b.push_back(parseNumber(word, "--traj" + suffix));
    if (b.empty() || b.size() > 6) throw UserError("--traj" + suffix + ": each group needs 1 to 6 coefficients");
  }
  plan.moreOutcomes.push_back(outcome);
}

}  // namespace

SimulationPlan parseSimulation(const SimulateOptions& o) {
  SimulationPlan plan;
  plan.model = o.model;
  if (!knownModel(plan.model))
    throw UserError("--model: '" + o.model + "' is not cnorm, logit, zip or poisson");
  for (const auto& word : splitWords(o.groups)) plan.groups.push_back(parseGroup(word));
  if (plan.groups.empty()) throw UserError("kurv simulate needs --groups");
  double total = 0.0;
  for (const auto& g : plan.groups) total += g.share;
  for (auto& g : plan.groups) g.share /= total;
  for (const auto& word : splitWords(o.times)) plan.times.push_back(parseNumber(word, "--times"));
  if (plan.times.empty()) throw UserError("kurv simulate needs --times");
  const double n = parseNumber(o.n, "--n");
  if (n < 1 || n != std::floor(n) || n > 1e8) throw UserError("--n: '" + o.n + "' is not a whole number of subjects");
  plan.subjects = static_cast<long>(n);
  const double seed = parseNumber(o.seed, "--seed");
  if (seed < 0 || seed != std::floor(seed) || seed > 9.0e15)
    throw UserError("--seed: '" + o.seed + "' is not a whole number from 0");
  plan.seed = static_cast<std::uint64_t>(seed);
  plan.sigma = parseNumber(o.sigma, "--sigma");
  if (!(plan.sigma > 0.0)) throw UserError("--sigma must be above 0");
  if (!o.min.empty()) plan.hasMin = true, plan.min = parseNumber(o.min, "--min");
  if (!o.max.empty()) plan.hasMax = true, plan.max = parseNumber(o.max, "--max");
  if (plan.hasMin && plan.hasMax && !(plan.min < plan.max)) throw UserError("--min is not below --max");
  if ((plan.hasMin || plan.hasMax) && plan.model != "cnorm")
    throw UserError("--min and --max are censoring bounds of --model cnorm");
  plan.missing = parseNumber(o.missing, "--missing");
  if (plan.missing < 0.0 || plan.missing >= 1.0) throw UserError("--missing must be from 0 to below 1");
  plan.inflation = parseNumber(o.inflation, "--inflation");
  if (plan.inflation < 0.0 || plan.inflation >= 1.0) throw UserError("--inflation must be from 0 to below 1");
  if (plan.inflation > 0.0 && plan.model != "zip") throw UserError("--inflation needs --model zip");
  const double decimals = parseNumber(o.decimals, "--decimals");
  if (decimals < 0 || decimals > 12 || decimals != std::floor(decimals))
    throw UserError("--decimals must be a whole number from 0 to 12");
  plan.decimals = static_cast<int>(decimals);
  if (!o.groups2.empty() || !o.cond.empty()) {
    // A second outcome with groups of its own.
    if (!o.traj2.empty()) throw UserError("--traj2 (groups shared) and --groups2 (groups of its own) exclude each other");
    if (!o.model3.empty()) throw UserError("--model3 shares the groups of the first outcome: not with --groups2");
    if (o.model2.empty()) throw UserError("--groups2 and --cond need --model2");
    plan.hasSecond = true;
    plan.second = parseSecondOutcome(o, plan.groups.size());
  } else {
    parseOutcome(o.model2, o.traj2, o.sigma2, "2", plan);
    parseOutcome(o.model3, o.traj3, o.sigma3, "3", plan);
  }
  return plan;
}

DataTable simulate(const SimulationPlan& plan) {
  DataTable table;
  table.source = "simulation";
  const std::size_t periods = plan.times.size();
  table.addColumn("id");
  const char* stems[] = {"y", "t", "v", "w"};
  for (std::size_t s = 0; s < 2 + plan.moreOutcomes.size(); ++s)
    for (std::size_t j = 0; j < periods; ++j) table.addColumn(std::string(stems[s]).append(std::to_string(j + 1)));
  const std::size_t groupColumn = table.addColumn("group");
  const std::size_t secondColumn = table.columnCount();
  if (plan.hasSecond) {
    for (std::size_t j = 0; j < periods; ++j) table.addColumn(std::string("z").append(std::to_string(j + 1)));
    table.addColumn("group2");
  }
  Random random(plan.seed);
  // Further outcomes draw from a stream of their own (seeded apart from the
  // first by the golden-ratio constant), so that adding them leaves the
  // groups and the first outcome's data of a seed as they were.
  Random more(plan.seed ^ 0x9E3779B97F4A7C15ULL);
  const double scale = std::pow(10.0, plan.decimals);
  for (long i = 0; i < plan.subjects; ++i) {
    // The group: the first whose cumulative share exceeds a uniform draw.
    const double u = random.uniform();
    std::size_t g = 0;
    double cumulative = plan.groups[0].share;
    while (g + 1 < plan.groups.size() && u >= cumulative) cumulative += plan.groups[++g].share;
    table.values[0].push_back(static_cast<double>(i + 1));
    for (std::size_t j = 0; j < periods; ++j) {
      const double t = plan.times[j];
      const double mu = polynomial(plan.groups[g].coefficients, t);
      double y = drawMeasurement(random, plan.model, mu, plan.sigma, plan.hasMin, plan.min, plan.hasMax, plan.max,
                                 plan.inflation, scale);
      // The draw for missingness is made for every measurement so that the
      // rate does not change the values of the others.
      if (random.uniform() < plan.missing) y = kMissing;
      table.values[1 + j].push_back(y);
      table.values[1 + periods + j].push_back(t);
    }
    for (std::size_t k = 0; k < plan.moreOutcomes.size(); ++k) {
      const SimulationOutcome& outcome = plan.moreOutcomes[k];
      for (std::size_t j = 0; j < periods; ++j) {
        const double mu = polynomial(outcome.coefficients[g], plan.times[j]);
        double y = 0.0;
        if (outcome.model == "cnorm")
          y = std::round((mu + outcome.sigma * more.normal()) * scale) / scale;
        else if (outcome.model == "logit")
          y = more.uniform() < 1.0 / (1.0 + std::exp(-mu)) ? 1.0 : 0.0;
        else
          y = static_cast<double>(more.poisson(std::exp(mu)));
        if (more.uniform() < plan.missing) y = kMissing;
        table.values[1 + (2 + k) * periods + j].push_back(y);
      }
    }
    table.values[groupColumn].push_back(static_cast<double>(g + 1));
    if (!plan.hasSecond) continue;
    // The second outcome's group given the first's, then its measurements;
    // its draws follow the first outcome's, which they leave unchanged.
    const SecondOutcome& second = plan.second;
    const double v = random.uniform();
    std::size_t k = 0;
    double below = second.cond[g][0];
    while (k + 1 < second.cond[g].size() && v >= below) below += second.cond[g][++k];
    for (std::size_t j = 0; j < periods; ++j) {
      const double mu = polynomial(second.coefficients[k], plan.times[j]);
      double z = drawMeasurement(random, second.model, mu, second.sigma, second.hasMin, second.min, second.hasMax,
                                 second.max, second.inflation, scale);
      if (random.uniform() < plan.missing) z = kMissing;
      table.values[secondColumn + j].push_back(z);
    }
    table.values[secondColumn + periods].push_back(static_cast<double>(k + 1));
  }
  for (std::size_t c = 0; c < table.columnCount(); ++c)
    for (double v : table.values[c]) table.text[c].push_back(cellText(v));
  return table;
}

std::string toCsv(const DataTable& table) {
  std::string out;
  for (std::size_t c = 0; c < table.columnCount(); ++c) {
    if (c) out += ',';
    out += csvField(table.names[c]);
  }
  out += "\n";
  for (std::size_t r = 0; r < table.rowCount(); ++r) {
    for (std::size_t c = 0; c < table.columnCount(); ++c) {
      if (c) out += ',';
      out += table.isString[c] ? csvField(table.text[c][r]) : cellText(table.values[c][r]);
    }
    out += "\n";
  }
  return out;
}

void writeDataFile(const DataTable& table, const std::string& path) {
  namespace fs = std::filesystem;
  std::string extension = fs::path(path).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const fs::path target(path);
  const std::string folder = target.has_parent_path() ? target.parent_path().string() : ".";
  if (extension == ".csv") {
    writeFilesAtomically(folder, {{target.filename().string(), toCsv(table)}});
  } else if (extension == ".dta") {
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::string hidden = ".";
    hidden += target.filename().string();
    hidden += ".partial";
    const std::string temporary = (fs::path(folder) / hidden).string();
    try {
      writeDtaFile(table, temporary);
    } catch (...) {
      std::remove(temporary.c_str());
      throw;
    }
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
      std::remove(temporary.c_str());
      throw UserError("cannot write " + path);
    }
  } else {
    throw UserError("--out must name a .csv or .dta file: " + path);
  }
}

}  // namespace kurv::cli
