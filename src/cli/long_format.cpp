#include "cli/long_format.h"

#include "cli/data_file.h"

namespace kurv::cli {

FitData readFitData(const FitOptions& options) {
  FitData data{readDataFile(options.data), options};
  return data;
}

}  // namespace kurv::cli
