#include "cli_test_support.h"

#include <unistd.h>

#include <fstream>
#include <sstream>

#include "cli/cli_app.h"

namespace kurv::cli::testing {

CliRun runKurv(const std::vector<std::string>& words) {
  std::vector<const char*> argv{"kurv"};
  for (const auto& w : words) argv.push_back(w.c_str());
  std::ostringstream out, err;
  CliRun run;
  run.code = runCli(static_cast<int>(argv.size()), argv.data(), out, err);
  run.out = out.str();
  run.err = err.str();
  return run;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "kurv-cli-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  path_ = ::mkdtemp(name.data());
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string fixture(const std::string& name) { return std::string(KURV_FIXTURE_DIR) + "/cli/" + name; }

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void writeFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

bool engineCannotFitYet(const std::string& errorText) {
  return errorText.find("cannot be fitted by this version of kurv yet") != std::string::npos ||
         errorText.find("fitting is not available yet") != std::string::npos;
}

}  // namespace kurv::cli::testing
