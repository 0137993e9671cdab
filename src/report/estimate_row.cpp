#include "report/estimate_row.h"

#include <cmath>

#include "core/text_format.h"

namespace kurv {

// The classical finite series for integer degrees of freedom n (Abramowitz
// and Stegun 26.7.3 and 26.7.4). With x = t / sqrt(n) and q = n / (t^2 + n),
// i.e. q = cos^2(atan x):
//   n even: P = 1/2 + 1/2 * x * sqrt(q) * (1 + q/2 + 1*3/(2*4) q^2 + ...),
//   n odd:  P = 1/2 + (atan x + q * x * (1 + 2/3 q + 2*4/(3*5) q^2 + ...)) / pi,
// each series ending with the term of index n - 2 (empty for n = 1).
double studentTCdf(double t, int degreesOfFreedom) {
  const int n = degreesOfFreedom < 1 ? 1 : degreesOfFreedom;
  const double dn = n;
  const double x = t / std::sqrt(dn);
  const double q = dn / (t * t + dn);

  double sum = 1.0;
  double term = 1.0;
  for (int k = (n % 2 == 0) ? 2 : 3; k <= n - 2; k += 2) {
    term = term * q * (k - 1) / k;
    const double previous = sum;
    sum = sum + term;
    if (sum == previous) break;  // further terms are below the last bit of the sum
  }

  double p;
  if (n % 2 == 0) {
    p = 0.5 + 0.5 * x * std::sqrt(q) * sum;
  } else {
    if (n == 1) sum = 0.0;
    // 0.3183098861837907 is 1/pi.
    p = (std::atan(x) + q * x * sum) * 0.3183098861837907 + 0.5;
  }
  return p > 1.0 ? 1.0 : p;
}

double twoSidedTPValue(double t, int degreesOfFreedom) {
  return 2.0 * (1.0 - studentTCdf(std::fabs(t), degreesOfFreedom));
}

void printEstimateRow(Host& host, int group, int noTests, int degreesOfFreedom, double estimate,
                      double stdError, const std::string& label) {
  const bool seMissing = host.isMissing(stdError);
  std::string tText = " ";
  std::string pText = " ";
  if (noTests == 0 && !seMissing && stdError > kTinyStdError) {
    const double t = estimate / stdError;
    tText = formatText("%12.3f", t);
    pText = formatText("%8.4f", twoSidedTPValue(t, degreesOfFreedom));
  }
  std::string seText;
  if (seMissing)
    seText = " ";
  else if (stdError > kHugeStdError)
    seText = ".";
  else
    seText = formatText("%12.5f", stdError);

  // The standard-error text is right-aligned in 12 columns.
  const std::string line =
      group != 0 ? formatText(" %d       %-12s %12.5f %12s    %s     %s\n", group, label.c_str(),
                              estimate, seText.c_str(), tText.c_str(), pText.c_str())
                 : formatText("         %-12s %12.5f %12s    %s     %s\n", label.c_str(), estimate,
                              seText.c_str(), tText.c_str(), pText.c_str());
  host.display(line.c_str());
}

void printColumnHeadings(Host& host, const ModelContext& ctx) {
  if (ctx.noStdErrors)
    host.display("Standard error calculations omitted by NOVAR option.\n");
  else if (ctx.covFailCode)
    host.display("Unable to calculate standard errors.  Check model.\n");
  host.display("\n\t\t\t       Standard       T for H0:\n");
  host.display(" Group   Parameter        Estimate        Error     Parameter=0   Prob > |T|\n");
  host.display(kBlank);
}

}  // namespace kurv
