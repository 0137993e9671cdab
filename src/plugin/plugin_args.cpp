#include "plugin/plugin_args.h"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace kurv {

bool parseIntArg(const char* text, int& out) {
  if (text == nullptr) return false;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (end == text) return false;
  if (value > INT_MAX || (errno == ERANGE && value > 0)) {
    out = INT_MAX;
  } else if (value < INT_MIN || (errno == ERANGE && value < 0)) {
    out = INT_MIN;
  } else {
    out = static_cast<int>(value);
  }
  return true;
}

bool parseRealArg(const char* text, double& out) {
  if (text == nullptr) return false;
  char* end = nullptr;
  const double value = std::strtod(text, &end);
  if (end == text) return false;
  out = value;
  return true;
}

bool parseNameArg(const char* text, std::string& out) {
  if (text == nullptr) return false;
  const char* p = text;
  while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
  const char* q = p;
  while (*q != '\0' && !std::isspace(static_cast<unsigned char>(*q))) ++q;
  if (q == p) return false;
  out.assign(p, q);
  return true;
}

namespace {

// Reads one position into its typed field. A text that does not convert
// leaves the field as it was.
struct ArgReader {
  const char* text;

  void integer(int& field) const { parseIntArg(text, field); }
  void real(double& field) const { parseRealArg(text, field); }
  // A switch given as a count: on when the count is positive.
  void option(bool& field) const {
    int value = 0;
    parseIntArg(text, value);
    field = value > 0;
  }
  // A model's name; the model is absent when the name is missing or starts
  // with "none".
  void model(std::string& field, bool& present) const {
    present = parseNameArg(text, field) && field.compare(0, 4, "none") != 0;
  }
};

}  // namespace

RunDescription decodePluginArgs(int argc, const char* const* argv) {
  RunDescription d;
  auto& m1 = d.models[0];
  auto& m2 = d.models[1];
  auto& m3 = d.models[2];
  for (int pos = 1; pos <= argc && pos <= kPluginArgCount; ++pos) {
    const ArgReader r{argv[pos - 1]};
    switch (pos) {
      case 1: r.model(m1.name, m1.present); break;
      case 2: r.integer(m1.periods); break;
      case 3: r.integer(m1.risk); break;
      case 4: r.option(d.weights); break;
      case 5: r.integer(m1.exposure); break;
      case 6: r.integer(m1.tcov); break;
      case 7: r.integer(d.plotTcov); break;
      case 8: r.integer(m1.groups); break;
      case 9: r.real(m1.censorMin); break;
      case 10: r.real(m1.censorMax); break;
      case 11: r.integer(m1.inflOrders); break;
      case 12: r.integer(d.reOrders); break;
      case 13: r.integer(d.dropoutOrders); break;
      case 14: r.integer(d.dcov); break;
      case 15: r.option(d.dropoutExempt); break;
      case 16: r.model(d.outcomeModel, d.outcome); break;
      case 17: r.integer(m1.refGroup); break;
      case 18: r.model(m2.name, m2.present); break;
      case 19: r.integer(m2.periods); break;
      case 20: r.integer(m2.risk); break;
      case 21: r.integer(m2.exposure); break;
      case 22: r.integer(m2.tcov); break;
      case 23: r.integer(m2.groups); break;
      case 24: r.real(m2.censorMin); break;
      case 25: r.real(m2.censorMax); break;
      case 26: r.integer(m2.inflOrders); break;
      case 27: r.integer(m2.refGroup); break;
      case 28: r.model(m3.name, m3.present); break;
      case 29: r.integer(m3.periods); break;
      case 30: r.integer(m3.groups); break;
      case 31: r.real(m3.censorMin); break;
      case 32: r.real(m3.censorMax); break;
      case 33: r.integer(m3.inflOrders); break;
      case 34: r.integer(d.multGroups); break;
      case 35: r.integer(d.startValues); break;
      case 36: r.option(d.trace); break;
      case 37: r.option(d.debug); break;
      case 38: r.option(d.noStdErrors); break;
      case 39: r.option(d.option39); break;
      default: break;
    }
  }
  return d;
}

std::array<std::string, kPluginArgCount> encodePluginArgs(const RunDescription& d) {
  auto integer = [](int value) { return std::to_string(value); };
  auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
  auto real = [](double value) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%.17g", value);
    return std::string(buffer);
  };
  auto model = [](const ModelDescription& m) { return m.present ? m.name : std::string("none"); };
  const auto& m1 = d.models[0];
  const auto& m2 = d.models[1];
  const auto& m3 = d.models[2];
  return {model(m1),          integer(m1.periods),  integer(m1.risk),      flag(d.weights),
          integer(m1.exposure), integer(m1.tcov),   integer(d.plotTcov),   integer(m1.groups),
          real(m1.censorMin), real(m1.censorMax),   integer(m1.inflOrders), integer(d.reOrders),
          integer(d.dropoutOrders), integer(d.dcov), flag(d.dropoutExempt),
          d.outcome ? d.outcomeModel : std::string("none"), integer(m1.refGroup),
          model(m2),          integer(m2.periods),  integer(m2.risk),      integer(m2.exposure),
          integer(m2.tcov),   integer(m2.groups),   real(m2.censorMin),    real(m2.censorMax),
          integer(m2.inflOrders), integer(m2.refGroup),
          model(m3),          integer(m3.periods),  integer(m3.groups),    real(m3.censorMin),
          real(m3.censorMax), integer(m3.inflOrders), integer(d.multGroups), integer(d.startValues),
          flag(d.trace),      flag(d.debug),        flag(d.noStdErrors),   flag(d.option39)};
}

}  // namespace kurv
