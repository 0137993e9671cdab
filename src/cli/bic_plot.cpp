#include "cli/bic_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/data_table.h"
#include "cli/svg_plot.h"

namespace kurv::cli {
namespace {

constexpr double kWidth = 640.0, kHeight = 420.0;
constexpr double kLeft = 100.0, kRight = 30.0, kTop = 50.0, kBottom = 70.0;
constexpr const char* kColour = "#0072B2";
constexpr const char* kMark = "#D55E00";

std::string fmt(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.2f", v);
  return buffer;
}

// A step of 1, 2 or 5 times a power of ten cutting `range` into about five
// intervals.
double niceStep(double range) {
  const double raw = range / 5.0;
  const double power = std::pow(10.0, std::floor(std::log10(raw)));
  const double f = raw / power;
  return (f < 1.5 ? 1.0 : f < 3.0 ? 2.0 : f < 7.0 ? 5.0 : 10.0) * power;
}

std::string tick(double v, double step) {
  const int decimals = step >= 1.0 ? 0 : std::min(6, static_cast<int>(std::ceil(-std::log10(step) - 1e-9)));
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, std::fabs(v) < step * 1e-9 ? 0.0 : v);
  return buffer;
}

bool fitted(const BicPoint& p) { return std::isfinite(p.bic) && !isMissing(p.bic); }

}  // namespace

std::string bicSvg(const std::vector<BicPoint>& points, int recommended, const std::string& yLabel) {
  double xLow = 1e300, xHigh = -1e300, yLow = 1e300, yHigh = -1e300;
  for (const auto& p : points) {
    xLow = std::min(xLow, static_cast<double>(p.groups));
    xHigh = std::max(xHigh, static_cast<double>(p.groups));
    if (fitted(p)) yLow = std::min(yLow, p.bic), yHigh = std::max(yHigh, p.bic);
  }
  if (xLow > xHigh) xLow = 1, xHigh = 2;
  if (xLow == xHigh) xLow -= 1, xHigh += 1;
  if (yLow > yHigh) yLow = 0, yHigh = 1;
  if (yLow == yHigh) {
    const double pad = std::fabs(yLow) > 0 ? std::fabs(yLow) * 0.01 : 1.0;
    yLow -= pad, yHigh += pad;
  }
  const double yStep = niceStep(yHigh - yLow);
  yLow = std::floor(yLow / yStep) * yStep, yHigh = std::ceil(yHigh / yStep) * yStep;
  const double w = kWidth - kLeft - kRight, h = kHeight - kTop - kBottom;
  // Half a group of room at either end so that the end points are not on the frame.
  auto px = [&](double x) { return kLeft + (x - xLow + 0.5) / (xHigh - xLow + 1.0) * w; };
  auto py = [&](double y) { return kTop + h - (y - yLow) / (yHigh - yLow) * h; };

  std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + fmt(kWidth) + "\" height=\"" + fmt(kHeight) +
         "\" viewBox=\"0 0 " + fmt(kWidth) + " " + fmt(kHeight) + "\" font-family=\"sans-serif\">\n";
  out += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  out += "<text x=\"" + fmt(kLeft + w / 2) + "\" y=\"28\" text-anchor=\"middle\" font-size=\"16\" font-weight=\"bold\">"
         "BIC by number of groups (higher is better)</text>\n";
  out += "<rect x=\"" + fmt(kLeft) + "\" y=\"" + fmt(kTop) + "\" width=\"" + fmt(w) + "\" height=\"" + fmt(h) +
         "\" fill=\"none\" stroke=\"#444\"/>\n";
  for (double y = yLow; y <= yHigh + yStep * 1e-6; y += yStep) {
    out += "<line x1=\"" + fmt(kLeft) + "\" y1=\"" + fmt(py(y)) + "\" x2=\"" + fmt(kLeft + w) + "\" y2=\"" + fmt(py(y)) +
           "\" stroke=\"#ddd\"/>\n";
    out += "<text x=\"" + fmt(kLeft - 8) + "\" y=\"" + fmt(py(y) + 4) + "\" text-anchor=\"end\" font-size=\"12\">" +
           tick(y, yStep) + "</text>\n";
  }
  for (const auto& p : points)
    out += "<text x=\"" + fmt(px(p.groups)) + "\" y=\"" + fmt(kTop + h + 20) + "\" text-anchor=\"middle\" font-size=\"12\">" +
           std::to_string(p.groups) + "</text>\n";
  out += "<text x=\"" + fmt(kLeft + w / 2) + "\" y=\"" + fmt(kHeight - 20) +
         "\" text-anchor=\"middle\" font-size=\"14\">Number of groups</text>\n";
  const double lx = 24, ly = kTop + h / 2;
  out += "<text x=\"" + fmt(lx) + "\" y=\"" + fmt(ly) + "\" text-anchor=\"middle\" font-size=\"14\" transform=\"rotate(-90 " +
         fmt(lx) + " " + fmt(ly) + ")\">" + xmlEscape(yLabel) + "</text>\n";
  // The line through the fitted models, in order of the groups.
  std::string line;
  for (const auto& p : points) {
    if (!fitted(p)) continue;
    if (!line.empty()) line += ' ';
    line += fmt(px(p.groups));
    line += ',';
    line += fmt(py(p.bic));
  }
  if (!line.empty())
    out += "<polyline points=\"" + line + "\" fill=\"none\" stroke=\"" + kColour + "\" stroke-width=\"2\"/>\n";
  for (const auto& p : points) {
    if (!fitted(p)) continue;
    out += "<circle cx=\"" + fmt(px(p.groups)) + "\" cy=\"" + fmt(py(p.bic)) + "\" r=\"5\" fill=\"" +
           (p.adequate ? kColour : "white") + "\" stroke=\"" + kColour + "\" stroke-width=\"2\"/>\n";
    if (p.groups == recommended) {
      out += "<circle cx=\"" + fmt(px(p.groups)) + "\" cy=\"" + fmt(py(p.bic)) + "\" r=\"11\" fill=\"none\" stroke=\"" +
             kMark + "\" stroke-width=\"3\"/>\n";
      out += "<text x=\"" + fmt(px(p.groups)) + "\" y=\"" + fmt(py(p.bic) + (py(p.bic) < kTop + 30 ? 30 : -18)) +
             "\" text-anchor=\"middle\" font-size=\"13\" fill=\"" + kMark + "\">recommended</text>\n";
    }
  }
  out += "<text x=\"" + fmt(kLeft + 8) + "\" y=\"" + fmt(kTop + h - 8) +
         "\" font-size=\"11\" fill=\"#555\">filled: adequate; hollow: fails a check</text>\n";
  out += "</svg>\n";
  return out;
}

}  // namespace kurv::cli
