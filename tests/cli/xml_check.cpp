#include "xml_check.h"

#include <cctype>
#include <set>
#include <vector>

namespace kurv::cli::testing {
namespace {

bool nameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ':'; }

// Checks character references in text or attribute values.
std::string checkReferences(const std::string& s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '<') return "raw '<' in text";
    if (s[i] != '&') continue;
    const auto end = s.find(';', i);
    if (end == std::string::npos) return "unterminated reference";
    const std::string ref = s.substr(i + 1, end - i - 1);
    static const std::set<std::string> named = {"amp", "lt", "gt", "quot", "apos"};
    const bool numeric = ref.size() > 1 && ref[0] == '#';
    if (!named.count(ref) && !numeric) return "unknown reference &" + ref + ";";
    i = end;
  }
  return "";
}

}  // namespace

std::string xmlWellFormedError(const std::string& x) {
  std::size_t i = 0;
  std::vector<std::string> open;
  int roots = 0;
  auto skipSpace = [&] { while (i < x.size() && std::isspace(static_cast<unsigned char>(x[i]))) ++i; };
  while (i < x.size()) {
    if (x[i] != '<') {
      const auto next = x.find('<', i);
      const std::string text = x.substr(i, next == std::string::npos ? std::string::npos : next - i);
      if (open.empty() && text.find_first_not_of(" \t\r\n") != std::string::npos) return "text outside the root";
      if (auto e = checkReferences(text); !e.empty()) return e;
      if (next == std::string::npos) break;
      i = next;
      continue;
    }
    if (x.compare(i, 5, "<?xml") == 0) {
      if (i != 0) return "declaration not at the start";
      const auto end = x.find("?>", i);
      if (end == std::string::npos) return "unterminated declaration";
      i = end + 2;
      continue;
    }
    if (x.compare(i, 4, "<!--") == 0) {
      const auto end = x.find("-->", i);
      if (end == std::string::npos) return "unterminated comment";
      i = end + 3;
      continue;
    }
    if (x.compare(i, 2, "</") == 0) {
      i += 2;
      const std::size_t start = i;
      while (i < x.size() && nameChar(x[i])) ++i;
      const std::string name = x.substr(start, i - start);
      skipSpace();
      if (i >= x.size() || x[i] != '>') return "bad end tag " + name;
      ++i;
      if (open.empty() || open.back() != name) return "end tag " + name + " does not match";
      open.pop_back();
      continue;
    }
    ++i;
    const std::size_t start = i;
    while (i < x.size() && nameChar(x[i])) ++i;
    const std::string name = x.substr(start, i - start);
    if (name.empty()) return "empty tag name";
    if (open.empty() && ++roots > 1) return "more than one root element";
    std::set<std::string> attributes;
    while (true) {
      skipSpace();
      if (i >= x.size()) return "unterminated tag " + name;
      if (x[i] == '>') {
        ++i;
        open.push_back(name);
        break;
      }
      if (x.compare(i, 2, "/>") == 0) {
        i += 2;
        break;
      }
      const std::size_t a = i;
      while (i < x.size() && nameChar(x[i])) ++i;
      const std::string attribute = x.substr(a, i - a);
      if (attribute.empty()) return "bad attribute in " + name;
      if (!attributes.insert(attribute).second) return "duplicate attribute " + attribute;
      skipSpace();
      if (i >= x.size() || x[i] != '=') return "attribute without value: " + attribute;
      ++i;
      skipSpace();
      if (i >= x.size() || (x[i] != '"' && x[i] != '\'')) return "unquoted attribute " + attribute;
      const char quote = x[i++];
      const auto end = x.find(quote, i);
      if (end == std::string::npos) return "unterminated attribute " + attribute;
      if (auto e = checkReferences(x.substr(i, end - i)); !e.empty()) return e;
      i = end + 1;
    }
  }
  if (!open.empty()) return "element " + open.back() + " not closed";
  if (roots != 1) return "no root element";
  return "";
}

}  // namespace kurv::cli::testing
