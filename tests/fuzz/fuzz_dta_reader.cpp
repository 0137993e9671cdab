// Coverage-guided fuzzing of the .dta reader: the bytes become an anonymous
// in-memory file that the program's reader opens by its /proc path, so
// ReadStat's parser sees them as a file on disk would be seen. Whatever they
// are, the reader either returns a table whose columns all have as many rows
// as the table (numbers and text alike) or refuses it with a user error.
#include <sys/mman.h>
#include <unistd.h>
#include <cstdint>
#include <cstdlib>
#include <string>
#include "cli/dta_file.h"
#include "cli/user_error.h"
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("fuzz-dta", 0);
  static const std::string path = "/proc/self/fd/" + std::to_string(fd);
  if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size))
    std::abort();
  try {
    const kurv::cli::DataTable t = kurv::cli::readDtaFile(path);
    for (std::size_t c = 0; c < t.columnCount(); ++c)
      if (t.values[c].size() != t.rowCount() || t.text[c].size() != t.rowCount()) std::abort();
  } catch (const kurv::cli::UserError&) {
  }
  return 0;
}
