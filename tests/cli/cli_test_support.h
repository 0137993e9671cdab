#pragma once
// Helpers shared by the command-line tests: running the program in-process,
// temporary folders, and the fixture paths.

#include <filesystem>
#include <string>
#include <vector>

namespace kurv::cli::testing {

struct CliRun {
  int code = 0;
  std::string out;
  std::string err;
};

// Runs `kurv WORDS...` in-process.
CliRun runKurv(const std::vector<std::string>& words);

// A fresh empty folder under the system's temporary folder, removed with
// the object.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

std::string fixture(const std::string& name);
std::string readFile(const std::string& path);
void writeFile(const std::string& path, const std::string& text);

// True when the engine answered that it cannot fit this kind of model yet.
bool engineCannotFitYet(const std::string& errorText);

}  // namespace kurv::cli::testing
