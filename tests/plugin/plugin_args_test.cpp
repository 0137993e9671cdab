// The plug-in's argument strings and the run description: what a text turns
// into, and that the encoder the command-line program uses for the record
// writes strings that decode into the same description.
#include <gtest/gtest.h>

#include <climits>

#include "plugin/plugin_args.h"

// GCC 12 warns wrongly about std::string assignment from literals at -O2
// (a known false positive of its restrict analysis).
#pragma GCC diagnostic ignored "-Wrestrict"

namespace kurv {
namespace {

RunDescription decode(const std::array<std::string, kPluginArgCount>& args) {
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  return decodePluginArgs(kPluginArgCount, argv.data());
}

TEST(PluginArgs, EncodedDescriptionsDecodeToThemselves) {
  // Absent models carry the name "none", as a decoded one does.
  RunDescription single;
  single.models[0] = {true, "zip", 6, 2, 6, 12, 3, 0.0, 0.0, 3, 2};
  single.models[1].name = single.models[2].name = single.outcomeModel = "none";
  single.weights = single.dropoutExempt = single.trace = single.noStdErrors = true;
  single.plotTcov = 2, single.dropoutOrders = 1, single.dcov = 6, single.startValues = 17;
  RunDescription joint = single;
  joint.models[0] = {true, "cnorm", 5, 1, 0, 0, 2, -0.1234567890123456789, 1e300, 0, 1};
  joint.models[1] = {true, "logit", 4, 2, 0, 8, 3, 0.0, 0.0, 0, 2};
  joint.outcome = true, joint.outcomeModel = "normal", joint.reOrders = 2, joint.debug = true;
  RunDescription mult;
  mult.models[0] = {true, "poisson", 3, 0, 0, 0, 2, 0.0, 0.0, 1, 0};
  mult.models[1] = {true, "cnorm", 4, 0, 0, 0, 2, -5e-310, 7.25, 0, 0};
  mult.models[2] = {true, "logit", 2, 0, 0, 0, 2, 0.0, 0.0, 0, 0};
  mult.outcomeModel = "none", mult.multGroups = 2, mult.option39 = true;
  for (const RunDescription& d : {single, joint, mult}) EXPECT_TRUE(decode(encodePluginArgs(d)) == d);
}

TEST(PluginArgs, TextsThatDoNotConvertOrAreOutOfRange) {
  std::array<std::string, kPluginArgCount> a;
  a.fill("0");
  a[0] = "  logit extra", a[1] = "12abc", a[2] = "abc", a[3] = "7", a[7] = "99999999999999999999";
  a[8] = "x", a[9] = "-2.5e3", a[15] = "none", a[17] = "nonesuch", a[16] = "-4", a[27] = "cnorm";
  a[35] = "3";
  RunDescription want;  // from "0" at every other position: the defaults
  // The first word of any length; the leading number, as %d reads it; risk
  // unchanged by "abc"; the count of groups saturated instead of overflowed;
  // censorMin unchanged by "x"; the reference group kept for the engine's checks.
  want.models[0] = {true, "logit", 12, 0, 0, 0, INT_MAX, 0.0, -2500.0, 0, -4};
  want.models[1].name = "nonesuch";  // absent: "none" and every word that starts with it
  want.models[2] = {true, "cnorm"};
  want.outcomeModel = "none";
  want.weights = want.trace = true;  // any positive count switches an option on
  EXPECT_TRUE(decode(a) == want);
  // Fewer strings than positions: the others keep their defaults.
  const char* one[] = {"cnorm", "5"};
  const RunDescription shortRun = decodePluginArgs(1, one);
  EXPECT_EQ(shortRun.models[0].periods, 0);
  EXPECT_TRUE(decodePluginArgs(0, nullptr) == RunDescription{});
}

}  // namespace
}  // namespace kurv
