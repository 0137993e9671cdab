// Coverage-guided fuzzing of the CSV reader: any text either parses or is
// refused with a user error; nothing else may happen (scripts/fuzz.sh).
#include <cstdint>
#include <string_view>
#include <exception>
#include "cli/csv_reader.h"
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  try {
    auto t = kurv::cli::parseCsv(std::string_view(reinterpret_cast<const char*>(data), size), "fuzz");
    (void)t;
  } catch (const std::exception&) {
  }
  return 0;
}
