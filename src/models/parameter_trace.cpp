#include "models/parameter_trace.h"

#include <string>

#include "core/text_format.h"

namespace kurv {

void traceVector(Host& host, int n, const double* values, const char* rowFormat) {
  const double missing = host.missingValue();
  const int lines = n / 6 + 1;
  for (int line = 0; line < lines; ++line) {
    double row[6];
    for (int c = 0; c < 6; ++c) {
      const int k = line * 6 + c;
      row[c] = k < n ? values[k] : missing;
    }
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::string text = formatText(rowFormat, row[0], row[1], row[2], row[3], row[4], row[5]);
#pragma GCC diagnostic pop
    text += '\n';
    host.standardOutput(text.c_str());
  }
}

}  // namespace kurv
