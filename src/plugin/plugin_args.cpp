#include "plugin/plugin_args.h"

#include <cctype>
#include <cerrno>
#include <climits>
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

// Reads one position into its field; returns the presence flag.
struct ArgReader {
  const char* text;

  bool integer(int& field) const {
    parseIntArg(text, field);
    return field > 0;
  }
  bool real(double& field) const {
    parseRealArg(text, field);
    return true;
  }
  // A count whose list (zero-filled) is later filled from a host matrix.
  bool countList(int& count, std::vector<double>& list) const {
    parseIntArg(text, count);
    if (count > 0) list.assign(static_cast<std::size_t>(count), 0.0);
    return count > 0;
  }
  bool name(std::string& field) const {
    if (!parseNameArg(text, field)) return false;
    return field.compare(0, 4, "none") != 0;
  }
  // Positions 36-39: the flag and the value are one field, clamped to 0/1.
  bool flag(int& field) const {
    int value = field;
    parseIntArg(text, value);
    field = value > 0 ? 1 : 0;
    return field == 1;
  }
};

}  // namespace

void parsePluginArgs(int argc, const char* const* argv, ModelContext& ctx) {
  ctx.argPresent.fill(false);
  int weightOption = 0, exemptOption = 0;
  for (int pos = 1; pos <= argc && pos <= kPluginArgCount; ++pos) {
    const ArgReader r{argv[pos - 1]};
    bool& present = ctx.argPresent[pos];
    switch (pos) {
      case 1: present = r.name(ctx.modelName[0]); break;
      case 2: present = r.integer(ctx.nPeriods[0]); break;
      case 3: present = r.integer(ctx.nRisk[0]); break;
      case 4: present = r.integer(weightOption); ctx.hasWeights = present; break;
      case 5: present = r.integer(ctx.nExposure[0]); break;
      case 6: present = r.integer(ctx.nTcov[0]); break;
      case 7: present = r.integer(ctx.nPlotTcov); break;
      case 8: present = r.countList(ctx.nGroups[0], ctx.polyOrder[0]); break;
      case 9: present = r.real(ctx.censorMin[0]); break;
      case 10: present = r.real(ctx.censorMax[0]); break;
      case 11: present = r.countList(ctx.nInflOrder[0], ctx.inflOrder[0]); break;
      case 12: present = r.countList(ctx.nReOrder, ctx.reOrder); ctx.hasRandomEffects = present; break;
      case 13: present = r.countList(ctx.nDropoutOrder, ctx.dropoutOrder); break;
      case 14: present = r.integer(ctx.nDcov); break;
      case 15: present = r.integer(exemptOption); ctx.hasDropoutExempt = present; break;
      case 16: present = r.name(ctx.omodelName); ctx.hasOutcome = present; break;
      case 17: present = r.integer(ctx.refGroup[0]); ctx.hasRefGroup[0] = present; break;
      case 18: present = r.name(ctx.modelName[1]); break;
      case 19: present = r.integer(ctx.nPeriods[1]); break;
      case 20: present = r.integer(ctx.nRisk[1]); break;
      case 21: present = r.integer(ctx.nExposure[1]); break;
      case 22: present = r.integer(ctx.nTcov[1]); break;
      case 23: present = r.countList(ctx.nGroups[1], ctx.polyOrder[1]); break;
      case 24: present = r.real(ctx.censorMin[1]); break;
      case 25: present = r.real(ctx.censorMax[1]); break;
      case 26: present = r.countList(ctx.nInflOrder[1], ctx.inflOrder[1]); break;
      case 27: present = r.integer(ctx.refGroup[1]); ctx.hasRefGroup[1] = present; break;
      case 28: present = r.name(ctx.modelName[2]); break;
      case 29: present = r.integer(ctx.nPeriods[2]); break;
      case 30: present = r.countList(ctx.nGroups[2], ctx.polyOrder[2]); break;
      case 31: present = r.real(ctx.censorMin[2]); break;
      case 32: present = r.real(ctx.censorMax[2]); break;
      case 33: present = r.countList(ctx.nInflOrder[2], ctx.inflOrder[2]); break;
      case 34: present = r.integer(ctx.multNGroups); ctx.isMultModel = present; break;
      case 35: present = r.integer(ctx.nStartValues); ctx.hasStartValues = present; break;
      case 36: present = r.flag(ctx.showTrace); break;
      case 37: present = r.flag(ctx.debugTrace); break;
      case 38: present = r.flag(ctx.noStdErrors); break;
      case 39: present = r.flag(ctx.unusedOption39); break;
      default: break;
    }
  }
}

}  // namespace kurv
