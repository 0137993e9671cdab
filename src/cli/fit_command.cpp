#include "cli/fit_command.h"

#include <algorithm>
#include <cstdio>

#include "cli/atomic_files.h"
#include "cli/cli_host.h"
#include "cli/data_file.h"
#include "cli/diagnostics.h"
#include "cli/engine_call.h"
#include "cli/fit_outputs.h"
#include "cli/user_error.h"
#include "cli/long_format.h"

namespace kurv::cli {

std::string startsText(const StartsReport& report) {
  if (report.plan.count <= 1) return {};
  const int fitted = static_cast<int>(
      std::count_if(report.starts.begin(), report.starts.end(), [](const StartOutcome& s) { return s.fitted; }));
  char line[256];
  std::snprintf(line, sizeof line,
                "\nStarts: %d (seed %llu), %d reached results, %d reached the best maximum (start %d kept), "
                "%d distinct maxima\n",
                report.plan.count, static_cast<unsigned long long>(report.plan.seed), fitted, report.reachedBest,
                report.best + 1, static_cast<int>(report.maxima.size()));
  return line;
}

int finishFit(const FitOptions& options, const DataTable& table, MultiStartFit& fit, std::ostream& results,
              std::ostream& messages, std::vector<ClassificationDiagnostics>* diagnosticsOut) {
  FittedRun& run = *fit.kept;
  if (fit.report.plan.count > 1) {
    // Only the kept fit's text is shown.
    results << run.results.str();
    messages << run.messages.str();
  }
  const CliHost& host = *run.host;
  if (run.code != 0) {
    // The engine's own message is already on the message stream; make
    // sure it ends its line.
    if (!host.errorText().empty() && host.errorText().back() != '\n') messages << "\n";
    if (host.errorText().empty()) messages << "kurv: the engine stopped the run (code " << run.code << ")\n";
    return kExitEngineError;
  }
  if (!run.summary.fitted) {
    // The minimizer's own message (on the message stream, without a line
    // end) says why.
    messages << "\nkurv: the fit stopped without results; nothing was written\n";
    return kExitNoResults;
  }
  if (host.failedStores() > 0)
    messages << "kurv: warning: " << host.failedStores()
             << " results fell outside the host matrices and variables and were dropped\n";
  const FitRecord record{options, table, run.call, run.summary, host,
                         fit.report.plan.count > 1 ? &fit.report : nullptr};
  const auto diagnostics = fitDiagnostics(record);
  results << diagnosticsText(diagnostics) << startsText(fit.report);
  if (diagnosticsOut) *diagnosticsOut = diagnostics;
  if (!options.out.empty()) {
    const auto files = fitOutputFiles(record);
    writeFilesAtomically(options.out, files);
    std::string names;
    for (const auto& [name, content] : files) names += (names.empty() ? "" : ", ") + name;
    messages << "kurv: wrote " << options.out << ": " << names << "\n";
  }
  return kExitOk;
}

int runFit(const FitOptions& options, std::ostream& results, std::ostream& messages,
           RunSummary* summaryOut) {
  try {
    const FitData data = readFitData(options);
    const DataTable& table = data.table;
    const StartsPlan plan = parseStarts(options);
    const EngineCall call = buildEngineCall(data.options, table);
    MultiStartFit fit = fitFromStarts(table, call, plan, &results, &messages);
    if (summaryOut) *summaryOut = fit.kept->summary;
    return finishFit(options, table, fit, results, messages, nullptr);
  } catch (const UserError& e) {
    messages << "kurv: " << e.what() << "\n";
    return kExitUserError;
  }
}

}  // namespace kurv::cli
