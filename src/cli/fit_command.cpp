#include "cli/fit_command.h"

#include "cli/atomic_files.h"
#include "cli/cli_host.h"
#include "cli/column_list.h"
#include "cli/data_file.h"
#include "cli/engine_call.h"
#include "cli/fit_outputs.h"
#include "cli/user_error.h"
#include "engine/run_driver.h"

namespace kurv::cli {
namespace {

// The results a host receives are the estimates in "parmData", their
// covariance in "varData" and the parameter names in the macro "_outvars";
// the engine writes them only after a successful fit. When its summary
// leaves any of these out, they are taken from there.
void completeSummaryFromHost(RunSummary& summary, const CliHost& host) {
  const Matrix* parm = host.matrix("parmData");
  if (!parm || parm->empty()) return;
  summary.fitted = true;
  if (summary.estimates.empty()) summary.estimates = parm->front();
  if (summary.nParams == 0) summary.nParams = static_cast<int>(summary.estimates.size());
  const auto n = static_cast<std::size_t>(summary.nParams);
  if (summary.covariance.empty())
    if (const Matrix* var = host.matrix("varData"); var && var->size() >= n) {
      for (std::size_t r = 0; r < n; ++r)
        for (std::size_t c = 0; c < n; ++c) summary.covariance.push_back(c < (*var)[r].size() ? (*var)[r][c] : 0.0);
    }
  if (summary.names.empty())
    if (const auto it = host.savedMacros().find("_outvars"); it != host.savedMacros().end())
      summary.names = splitWords({it->second});
}

}  // namespace

int runFit(const FitOptions& options, std::ostream& results, std::ostream& messages,
           RunSummary* summaryOut) {
  try {
    const DataTable table = readDataFile(options.data);
    const EngineCall call = buildEngineCall(options, table);
    CliHost host(table, call, results, messages);
    RunSummary summary;
    const int code = runDescribed(host, call.description, &summary);
    if (code == 0) completeSummaryFromHost(summary, host);
    if (summaryOut) *summaryOut = summary;
    if (code != 0) {
      // The engine's own message is already on the message stream; make
      // sure it ends its line.
      if (!host.errorText().empty() && host.errorText().back() != '\n') messages << "\n";
      if (host.errorText().empty()) messages << "kurv: the engine stopped the run (code " << code << ")\n";
      return kExitEngineError;
    }
    if (!summary.fitted) {
      // The minimizer's own message (on the message stream, without a line
      // end) says why.
      messages << "\nkurv: the fit stopped without results; nothing was written\n";
      return kExitNoResults;
    }
    if (host.failedStores() > 0)
      messages << "kurv: warning: " << host.failedStores()
               << " results fell outside the host matrices and variables and were dropped\n";
    if (!options.out.empty()) {
      const FitRecord record{options, table, call, summary, host};
      const auto files = fitOutputFiles(record);
      writeFilesAtomically(options.out, files);
      std::string names;
      for (const auto& [name, content] : files) names += (names.empty() ? "" : ", ") + name;
      messages << "kurv: wrote " << options.out << ": " << names << "\n";
    }
    return kExitOk;
  } catch (const UserError& e) {
    messages << "kurv: " << e.what() << "\n";
    return kExitUserError;
  }
}

}  // namespace kurv::cli
