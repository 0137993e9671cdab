#pragma once
// Helpers of the command-line tests: the program run in-process, a temporary
// folder, fixture files, and a strict check that the SVG output is XML.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

#include "cli/cli_app.h"
#include "cli/fit_options.h"
#include "support/csv_data.h"

namespace kurv::cli::testing {

inline std::vector<std::string> words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

// The options of `kurv fit WORDS` as the program parses them; a refusal fails the test.
inline FitOptions fitOptions(const std::string& command) {
  FitOptions options;
  std::string error;
  EXPECT_TRUE(parseFitWords(words(command), options, error)) << error;
  return options;
}

inline std::string fixture(const std::string& name) { return std::string(KURV_FIXTURE_DIR) + "/cli/" + name; }

// A fresh folder under the system's temporary folder, removed with the object.
struct TempDir {
  std::string path = (std::filesystem::temp_directory_path() / "kurv-cli-XXXXXX").string();
  TempDir() { ::mkdtemp(path.data()); }
  ~TempDir() { std::filesystem::remove_all(path); }
  std::string file(const std::string& name) const { return path + "/" + name; }
};

struct CliRun { int code; std::string out, err; };

// `kurv COMMAND` with its output captured. The command's words are split at
// blanks; a leading '@' names a file of `dir`, a leading '#' a fixture.
inline CliRun runKurv(const std::string& command, const TempDir* dir = nullptr) {
  auto argv = words("kurv " + command);
  std::vector<const char*> pointers;
  for (auto& w : argv) {
    w = w[0] == '@' && dir ? dir->file(w.substr(1)) : w[0] == '#' ? fixture(w.substr(1)) : w;
    pointers.push_back(w.c_str());
  }
  std::ostringstream out, err;
  const int code = runCli(static_cast<int>(pointers.size()), pointers.data(), out, err);
  return {code, out.str(), err.str()};
}

inline std::string readFile(const std::string& path) { return kurv::testing::readTextFile(path); }

// The names among `files` whose contents differ between folders `a` and `b` (blank-separated).
inline std::string differingFiles(const std::string& a, const std::string& b, const std::vector<std::string>& files) {
  std::string names;
  for (const auto& f : files)
    if (readFile(a + "/" + f) != readFile(b + "/" + f)) names += f + " ";
  return names;
}

// How many times `pattern` matches in `text`.
inline long matches(const std::string& text, const std::string& pattern) {
  const std::regex re(pattern);
  return std::distance(std::sregex_iterator(text.begin(), text.end(), re), std::sregex_iterator());
}

// Empty when `x` is well-formed XML: one root element, tags nested and closed,
// attributes quoted and not repeated, no '<' outside tags and only the
// predefined or numeric character references. Otherwise the first problem.
inline std::string xmlError(const std::string& x) {
  static const std::regex tag(R"(<(/?)([A-Za-z_][\w.:-]*)((?:\s+[A-Za-z_][\w.:-]*\s*=\s*(?:"[^"<]*"|'[^'<]*'))*)\s*(/?)>)"
                              R"(|<\?xml[^<>]*\?>|<!--(?:[^-]|-[^-])*-->)");
  static const std::regex attribute(R"(([\w.:-]+)\s*=\s*(?:"[^"]*"|'[^']*'))");
  static const std::regex badReference(R"(&(?!(amp|lt|gt|quot|apos|#[0-9]+|#x[0-9a-fA-F]+);))");
  std::vector<std::string> open;
  int roots = 0;
  std::size_t at = 0;
  auto badText = [&](std::size_t end) {  // only blanks outside the root
    const std::string text = x.substr(at, end - at);
    return text.find('<') != std::string::npos || std::regex_search(text, badReference) ||
           (open.empty() && text.find_first_not_of(" \t\r\n") != std::string::npos);
  };
  for (std::sregex_iterator it(x.begin(), x.end(), tag), end; it != end; at = it->position() + it->length(), ++it) {
    const std::smatch& m = *it;
    const std::string attributes = m[3];
    std::set<std::string> names;
    for (std::sregex_iterator a(attributes.begin(), attributes.end(), attribute); a != end; ++a)
      if (!names.insert((*a)[1]).second) return "repeated attribute in " + m.str();
    if (badText(m.position()) || std::regex_search(attributes, badReference)) return "bad text or reference at " + m.str();
    if (m[2].length() == 0) continue;  // the declaration or a comment
    if (m[1].length() && (open.empty() || open.back() != m[2])) return "unmatched " + m.str();
    if (m[1].length()) open.pop_back();
    else if (open.empty() && ++roots > 1) return "second root " + m.str();
    if (!m[1].length() && !m[4].length()) open.push_back(m[2]);
  }
  if (badText(x.size())) return "bad text at the end";
  return !open.empty() ? "unclosed " + open.back() : roots == 1 ? "" : "no root element";
}

}  // namespace kurv::cli::testing

// The program's names, these helpers and the JSON type, unqualified in every test file of the program.
using namespace kurv::cli;
using namespace kurv::cli::testing;
using nlohmann::json;
