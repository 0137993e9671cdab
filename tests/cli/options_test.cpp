// `kurv fit`, `kurv select` and `kurv simulate` options: what each fit option
// becomes among the engine's 39 arguments, host matrices, macros and
// variables, and every user error with its message and exit status.
#include <gtest/gtest.h>

#include "cli/csv_reader.h"
#include "cli/engine_call.h"
#include "cli/number_text.h"
#include "cli_support.h"

namespace {

const std::string kBase = " --var y1-y3 --indep t1-t3 --order 1 2";

// The lines of a table in the fixtures but its comments.
std::vector<std::string> tableLines(const std::string& name) {
  std::istringstream in(readFile(fixture(name)));
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    if (!line.empty() && line[0] != '#') lines.push_back(line);
  return lines;
}

// The call a command line becomes, as text: the arguments other than "0"
// ("position=text"), the host matrices, the macros, and the variables in the
// engine's order.
std::string callText(const std::string& options) {
  static const DataTable table = readCsvFile(fixture("options.csv"));
  const EngineCall call = buildEngineCall(fitOptions("d.csv" + kBase + options), table);
  std::string text;
  for (int p = 1; p <= kurv::kPluginArgCount; ++p)
    if (call.args[p - 1] != "0") text += std::to_string(p) + "=" + call.args[p - 1] + " ";
  text += "|";
  for (const auto& [name, values] : call.matrices) {
    text += " " + name + "=";
    for (std::size_t i = 0; i < values.size(); ++i) text.append(i ? "," : "").append(shortestText(values[i]));
  }
  text += " |";
  for (const auto& [name, value] : call.macros) text += " " + name + "=" + value;
  text += " |";
  for (std::size_t column : call.variableColumns) text += " " + table.names[column];
  return text;
}

}  // namespace

TEST(OptionMapping, EachOptionReachesItsArgumentMatrixMacroOrVariables) {
  const auto lines = tableLines("option_mapping.txt");
  ASSERT_EQ(lines.size(), 2u * 8);
  for (std::size_t i = 0; i < lines.size(); i += 2) EXPECT_EQ("= " + callText(" " + lines[i]), lines[i + 1]) << lines[i];
}

TEST(UserErrors, OneLineOnStandardErrorWithItsExitStatusAndNothingWritten) {
  TempDir dir;  // the table and its conventions are in user_errors.txt
  const auto expand = [&](const std::string& text) {
    return std::regex_replace(std::regex_replace(text, std::regex("@"), dir.file("")), std::regex("#"), fixture(""));
  };
  for (const std::string& line : tableLines("user_errors.txt")) {
    const auto bar = line.find(" | "), last = line.rfind(" | ");
    const int code = std::stoi(line.substr(0, bar));
    const std::string command = line.substr(bar + 3, last - bar - 3), message = expand(line.substr(last + 3));
    const CliRun run = runKurv(command + (command.rfind("fit", 0) == 0 ? " --out @out" : ""), &dir);
    EXPECT_EQ(run.code, code) << command;
    EXPECT_NE(run.err.find(message), std::string::npos) << command << "\n" << run.err;
    EXPECT_TRUE(code == 3 || run.err.rfind("kurv: ", 0) == 0) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(code == 3 || run.out.empty()) << command;  // the engine shows its banner before refusing
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("out")) || std::filesystem::exists(dir.file("e.csv")));
}

TEST(Help, EveryFitOptionThatTakesAValueShowsAnExample) {  // 49 options, three of them flags without a value
  const CliRun fit = runKurv("fit --help");
  EXPECT_EQ(matches(fit.out, "\n  (--\\w+) [A-Z]+ [^\\n]*e\\.g\\. \\1 "), 46);
  EXPECT_EQ(fit.code + runKurv("--help").code + runKurv("simulate --help").code, 0);
}
