#include "cli/cli_app.h"

#include <CLI/CLI.hpp>

#include "cli/fit_command.h"
#include "cli/select_command.h"
#include "cli/simulate.h"
#include "cli/user_error.h"

namespace kurv::cli {
namespace {

constexpr const char* kFitExamples = R"(Examples:
  Three groups of a censored normal outcome measured six times:
    kurv fit data.csv --var y1-y6 --indep t1-t6 --model cnorm --order 1 1 2 \
        --min 0 --max 60 --id id --out results
  Logistic outcome, two groups, a membership risk factor, rows with train != 0:
    kurv fit data.dta --var b1-b5 --indep age1-age5 --model logit --order 2 2 \
        --risk female --if train
  Joint model of two outcomes:
    kurv fit data.csv --var y1-y6 --indep t1-t6 --model cnorm --order 1 2 --min 0 --max 60 \
        --var2 c1-c6 --indep2 t1-t6 --model2 zip --order2 1 1
  Multi-trajectory model of two outcomes sharing three groups:
    kurv fit data.csv --multgroups 3 --var y1-y6 --indep t1-t6 --model cnorm --order 1 1 1 \
        --min 0 --max 60 --var2 b1-b6 --indep2 t1-t6 --model2 logit --order2 1 1 1

Column lists are names separated by spaces ("y1 y2 y3", one or several
words) or ranges of consecutive columns ("y1-y6"). Missing cells in CSV
files are empty, "." or "NA".

Output: the results table on standard output; messages on standard error.
With --out DIR: fit.json, posteriors.csv, plot1.csv (plot2.csv ...) and
trajectories.svg.

Exit status: 0 success; 1 bad data or options; 2 unparsable command line;
3 the engine refused the run; 4 the fit stopped without results.)";

constexpr const char* kSelectExamples = R"(Examples:
  One to five groups of cubic trajectories, ten starts each:
    kurv select data.csv --var y1-y6 --indep t1-t6 --model cnorm --min 0 --max 60 \
        --groups 1-5 --order 3 --starts 10 --seed 1 --out selection
  Orders per number of groups (one quoted list per number), then refined:
    kurv select data.csv --var y1-y6 --indep t1-t6 --model logit --groups 2-3 \
        --order "2 2" "1 2 3" --refine-orders --out selection

--order takes one list for every number of groups or one list per number of
groups; a list of one order gives every group that order.

A model is adequate when every group holds at least 5% of the subjects (by
most likely group), its average posterior probability of assignment (AvePP)
is at least 0.7 and its odds of correct classification (OCC) at least 5.
The recommendation is the adequate model with the best BIC (the engine's
BIC = log-likelihood - 0.5 x parameters x ln N: the higher the better).

Output: a progress line per fit on standard error, the table and the
recommendation on standard output; in --out DIR: selection.json,
selection.csv, bic.svg and best/ (the recommended model's fit outputs).)";

constexpr const char* kSimulateExamples = R"(Examples:
  Three groups, censored normal, six yearly measurements:
    kurv simulate --model cnorm --groups 30:5,0.5 45:10,4 25:30,6,-0.8 \
        --times 1 2 3 4 5 6 --sigma 4 --min 0 --max 60 --n 400 --seed 7 --out data.csv
  Two groups of counts with zero inflation, as a Stata file:
    kurv simulate --model zip --groups 60:-1,0.2 40:1.5 --times 1 2 3 4 5 \
        --inflation 0.2 --n 300 --seed 3 --out counts.dta

  Two outcomes sharing three groups (for a multi-trajectory fit):
    kurv simulate --model cnorm --groups 30:5,0.5 45:10,4 25:30,6,-0.8 --sigma 4 \
        --model2 logit --traj2 -2,0.1 0,0.2 2,-0.3 --times 1 2 3 4 5 6 --n 400 --seed 9 --out multi.csv

  A second outcome whose group depends on the first one's (joint model data):
    kurv simulate --model cnorm --groups 50:2,1 50:6,0.5 --times 0 1 2 3 4 --sigma 1.5 \
        --model2 logit --groups2 -2,0.3 1,-0.2 --cond 0.8,0.2 0.3,0.7 --n 400 --seed 5 --out joint.csv

Columns written: id, y1..yT (outcomes), t1..tT (times), v1..vT and w1..wT
(second and third outcomes sharing the groups), group (the true group); with
--groups2 also z1..zT (the second outcome) and group2. The same options and
seed always give the same data.)";

void addModelOptions(CLI::App* fit, ModelOptions& m, int index) {
  const std::string s = index == 0 ? "" : std::to_string(index + 1);
  const std::string group = index == 0 ? "Model 1"
                          : index == 1 ? "Model 2 (joint or multi-trajectory)"
                                       : "Model 3 (multi-trajectory)";
  const std::string which = index == 0 ? "" : " of model " + std::to_string(index + 1);
  auto add = [&](const std::string& name, auto& target, const std::string& text) {
    const std::string type = name == "model" ? "NAME"
                           : name == "order" || name == "iorder" ? "ORDER"
                           : name == "min" || name == "max" ? "NUMBER"
                           : name == "refgroup" ? "GROUP" : "COLUMNS";
    return fit->add_option("--" + name + s, target, text)->group(group)->type_name(type);
  };
  add("var", m.var, "outcome columns" + which + ", one per period, e.g. --var" + s + " y1-y6");
  add("indep", m.indep, "time columns" + which + ", one per outcome column, e.g. --indep" + s + " t1-t6");
  add("model", m.model, "outcome distribution" + which + ": cnorm, logit, zip or poisson, e.g. --model" + s + " cnorm");
  add("order", m.order, "polynomial order of each group's trajectory (-1 to 5; one per group), e.g. --order" + s + " 1 2 2");
  add("min", m.min, "lower censoring bound (cnorm), e.g. --min" + s + " 0");
  add("max", m.max, "upper censoring bound (cnorm), e.g. --max" + s + " 60");
  add("iorder", m.iorder, "zero-inflation orders (zip): one shared or one per group, e.g. --iorder" + s + " 0");
  if (index < 2) {
    add("risk", m.risk, "risk factors of group membership, e.g. --risk" + s + " female age0");
    add("tcov", m.tcov, "time-varying covariates, one column per period for each covariate, e.g. --tcov" + s + " x1-x6");
    add("exposure", m.exposure, "exposure columns (zip, poisson), one per period, e.g. --exposure" + s + " e1-e6");
    add("refgroup", m.refgroup, "reference group of the membership model, e.g. --refgroup" + s + " 2");
  }
}

// The options of a fit, on `fit` or on another command that fits.
void addFitOptions(CLI::App* fit, FitOptions& o) {
  fit->add_option("DATA", o.data, "data file, .csv (header row) or Stata .dta; one row per subject, e.g. data.csv")->type_name("FILE")
      ->required();
  for (int m = 0; m < 3; ++m) addModelOptions(fit, o.models[m], m);
  const std::string group = "Model 1 extras";
  fit->add_option("--plottcov", o.plottcov, "covariate values for the plot series, one per --tcov column, e.g. --plottcov 0 0 0 1 1 1")->type_name("NUMBER")->group(group);
  fit->add_option("--weight", o.weight, "weight column, e.g. --weight w")->type_name("COLUMN")->group(group);
  fit->add_option("--dropout", o.dropout, "dropout-model orders: one shared or one per group, e.g. --dropout 0")->type_name("ORDER")->group(group);
  fit->add_option("--dcov", o.dcov, "dropout covariates, one column per period for each covariate, e.g. --dcov d1-d6")->type_name("COLUMNS")->group(group);
  fit->add_option("--exempt", o.exempt, "column whose non-zero value exempts a subject from dropout, e.g. --exempt died")->type_name("COLUMN")->group(group);
  fit->add_option("--omodel", o.omodel, "distribution of the outcome analysis: normal, cnorm, logit, zip or poisson, e.g. --omodel logit")->type_name("NAME")->group(group);
  fit->add_option("--ovar", o.ovar, "outcome column of the outcome analysis, e.g. --ovar arrested")->type_name("COLUMN")->group(group);
  fit->add_option("--rorder", o.rorder, "random-effects orders (cnorm): one shared or one per group, e.g. --rorder 0")->type_name("ORDER")->group(group);
  const std::string run = "Run";
  fit->add_option("--multgroups", o.multgroups, "fit a multi-trajectory model with this many shared groups, e.g. --multgroups 3")->type_name("GROUPS")->group(run);
  fit->add_option("--start", o.start, "start values, in the form the results print them (default: guessed from the data; 'default': the defaults of the plug-in), e.g. --start 10 1 20 0.5 5 50 50")->type_name("NUMBER")->group(run);
  fit->add_option("--if", o.ifColumn, "use only rows whose value in this column is non-zero and not missing, e.g. --if train")->type_name("COLUMN")->group(run);
  fit->add_flag("--trace", o.trace, "show the start values and the iteration log")->group(run);
  fit->add_flag("--debug", o.debug, "trace every likelihood evaluation")->group(run);
  fit->add_flag("--novar", o.novar, "skip the covariance and standard errors of the estimates")->group(run);
  fit->add_option("--starts", o.starts, "fit from this many starting points (the default start and random perturbations of it) and keep the best maximum, e.g. --starts 10")->type_name("N")->group(run);
  fit->add_option("--seed", o.seed, "seed of the perturbed starts of --starts (default 1), e.g. --seed 7")->type_name("N")->group(run);
  fit->add_option("--threads", o.threads, "threads of the likelihood evaluations (default: one per core; the results do not depend on it), e.g. --threads 2")->type_name("N")->group(run);
  const std::string output = "Output";
  fit->add_option("--out", o.out, "folder for fit.json, posteriors.csv, plot1.csv and trajectories.svg, e.g. --out results")->type_name("DIR")->group(output);
  fit->add_option("--long", o.longId, "the data have one row per measurement; this column identifies the subject (then --var, --indep name one column each), e.g. --long id")->type_name("COLUMN")->group(run);
  fit->add_option("--id", o.id, "identifier column for posteriors.csv (else the row number), e.g. --id id")->type_name("COLUMN")->group(output);
}

CLI::App* addFit(CLI::App& app, FitOptions& o) {
  CLI::App* fit = app.add_subcommand("fit", "Fit a group-based trajectory model to a .csv or .dta file");
  fit->footer(kFitExamples);
  addFitOptions(fit, o);
  return fit;
}

CLI::App* addSelect(CLI::App& app, SelectOptions& o) {
  CLI::App* sel = app.add_subcommand("select", "Choose the number of groups: fit each, compare BIC, check adequacy");
  sel->footer(kSelectExamples);
  addFitOptions(sel, o.fit);
  sel->get_option("--order")->description(
      "polynomial orders (-1 to 5): one list for every number of groups, or one quoted list per number of groups; "
      "a list of one order gives every group that order, e.g. --order 3");
  const std::string group = "Selection";
  sel->add_option("--groups", o.groups, "numbers of groups to fit, a range or one number, e.g. --groups 1-6")->type_name("RANGE")->group(group)->required();
  sel->add_option("--bic", o.bic, "BIC to compare: subjects (default) or measurements, e.g. --bic measurements")->type_name("NAME")->group(group);
  sel->add_option("--min-share", o.minShare, "adequacy: least percent of subjects in every group by most likely group (default 5), e.g. --min-share 5")->type_name("PERCENT")->group(group);
  sel->add_option("--min-avepp", o.minAvePP, "adequacy: least average posterior probability of assignment (default 0.7), e.g. --min-avepp 0.7")->type_name("P")->group(group);
  sel->add_option("--min-occ", o.minOcc, "adequacy: least odds of correct classification (default 5), e.g. --min-occ 5")->type_name("NUMBER")->group(group);
  sel->add_flag("--refine-orders", o.refineOrders, "lower the recommended model's highest polynomial terms with p > 0.05, refitting each time")->group(group);
  return sel;
}

CLI::App* addSimulate(CLI::App& app, SimulateOptions& o) {
  CLI::App* sim = app.add_subcommand("simulate", "Simulate data from a group-based trajectory model");
  sim->footer(kSimulateExamples);
  sim->add_option("--model", o.model, "outcome distribution: cnorm, logit, zip or poisson, e.g. --model cnorm")->required()->type_name("NAME");
  sim->add_option("--groups", o.groups, "one SHARE:b0,b1,... per group: its share and trajectory coefficients, e.g. --groups 40:10,2 60:20,-1.5")->required()->type_name("GROUP");
  sim->add_option("--times", o.times, "measurement times, e.g. --times 1 2 3 4 5 6")->required()->type_name("NUMBER");
  sim->add_option("--n", o.n, "number of subjects, e.g. --n 500")->required()->type_name("N");
  sim->add_option("--seed", o.seed, "seed of the random numbers, e.g. --seed 7")->required()->type_name("N");
  sim->add_option("--out", o.out, "output file, .csv or .dta, e.g. --out data.csv")->required()->type_name("FILE");
  sim->add_option("--sigma", o.sigma, "standard deviation of cnorm measurements (default 1), e.g. --sigma 4")->type_name("NUMBER");
  sim->add_option("--min", o.min, "lower censoring bound (cnorm), e.g. --min 0")->type_name("NUMBER");
  sim->add_option("--max", o.max, "upper censoring bound (cnorm), e.g. --max 60")->type_name("NUMBER");
  sim->add_option("--missing", o.missing, "probability that a measurement is missing (default 0), e.g. --missing 0.1")->type_name("P");
  sim->add_option("--inflation", o.inflation, "zero-inflation probability (zip; default 0), e.g. --inflation 0.2")->type_name("P");
  for (int k = 2; k <= 3; ++k) {
    const std::string n = std::to_string(k);
    const char* which = k == 2 ? "second" : "third";
    sim->add_option("--model" + n, k == 2 ? o.model2 : o.model3, std::string(which) + " outcome of the same subjects: cnorm, logit, zip or poisson; its groups are the first outcome's (--traj" + n + ") or, for the second, its own (--groups2, --cond), e.g. --model" + n + " logit")->type_name("NAME");
    sim->add_option("--traj" + n, k == 2 ? o.traj2 : o.traj3, std::string("one b0,b1,... per group for the ") + which + " outcome, e.g. --traj" + n + " -1,0.3 1,-0.2")->type_name("COEFFICIENTS");
    sim->add_option("--sigma" + n, k == 2 ? o.sigma2 : o.sigma3, std::string("standard deviation of the ") + which + " outcome (cnorm; default 1), e.g. --sigma" + n + " 2")->type_name("NUMBER");
  }
  sim->add_option("--decimals", o.decimals, "decimals kept of cnorm measurements (default 3), e.g. --decimals 2")->type_name("N");
  const std::string second = "Second outcome (joint model data)";
  sim->add_option("--groups2", o.groups2, "one b0,b1,... per group of the second outcome, e.g. --groups2 -2,0.3 1,-0.2")->type_name("GROUP")->group(second);
  sim->add_option("--cond", o.cond, "per group of --groups, the probabilities of the second outcome's groups, e.g. --cond 0.8,0.2 0.3,0.7")->type_name("P")->group(second);
  sim->add_option("--min2", o.min2, "lower censoring bound of the second outcome (cnorm), e.g. --min2 0")->type_name("NUMBER")->group(second);
  sim->add_option("--max2", o.max2, "upper censoring bound of the second outcome (cnorm), e.g. --max2 10")->type_name("NUMBER")->group(second);
  sim->add_option("--inflation2", o.inflation2, "zero-inflation probability of the second outcome (zip; default 0), e.g. --inflation2 0.2")->type_name("P")->group(second);
  return sim;
}

// The whole command line: both subcommands with every option.
struct CommandLine {
  CLI::App app{"kurv: group-based trajectory models (finite mixtures of polynomial trajectories)\n"
               "for CNORM, LOGIT, ZIP and Poisson outcomes, fitted by maximum likelihood.",
               "kurv"};
  FitOptions fitOptions;
  SimulateOptions simulateOptions;
  SelectOptions selectOptions;
  CLI::App* fit = nullptr;
  CLI::App* simulate = nullptr;
  CLI::App* select = nullptr;

  CommandLine() {
    app.require_subcommand(1);
    app.footer("Run 'kurv fit --help', 'kurv select --help' or 'kurv simulate --help' for every option with examples.\n"
               "Example: kurv fit data.csv --var y1-y6 --indep t1-t6 --model cnorm --order 1 2 "
               "--min 0 --max 60 --out results");
    fit = addFit(app, fitOptions);
    simulate = addSimulate(app, simulateOptions);
    select = addSelect(app, selectOptions);
  }
};

}  // namespace

bool parseFitWords(const std::vector<std::string>& words, FitOptions& options, std::string& error) {
  CommandLine line;
  std::vector<const char*> argv{"kurv", "fit"};
  for (const auto& word : words) argv.push_back(word.c_str());
  try {
    line.app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    error = e.what();
    return false;
  }
  options = line.fitOptions;
  return true;
}

int runCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  CommandLine line;
  CLI::App& app = line.app;
  const FitOptions& fitOptions = line.fitOptions;
  const SimulateOptions& simulateOptions = line.simulateOptions;
  CLI::App* fit = line.fit;
  CLI::App* sim = line.simulate;
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e, out, err);
  } catch (const CLI::ParseError& e) {
    err << "kurv: " << e.what() << "\n";
    return kExitUsage;
  }
  if (fit->parsed()) return runFit(fitOptions, out, err);
  if (line.select->parsed()) return runSelect(line.selectOptions, out, err);
  if (sim->parsed()) {
    try {
      const SimulationPlan plan = parseSimulation(simulateOptions);
      writeDataFile(simulate(plan), simulateOptions.out);
      err << "kurv: wrote " << plan.subjects << " subjects to " << simulateOptions.out << "\n";
      return kExitOk;
    } catch (const UserError& e) {
      err << "kurv: " << e.what() << "\n";
      return kExitUserError;
    }
  }
  return kExitUsage;
}

}  // namespace kurv::cli
