#include "cli/atomic_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "cli/user_error.h"

namespace kurv::cli {
namespace {

// Writes `content` to a fresh temporary file beside `target`; returns its
// path, or throws.
std::string writeTemporary(const std::filesystem::path& target, const std::string& content) {
  std::string hidden = ".";
  hidden += target.filename().string();
  hidden += ".XXXXXX";
  const std::string pattern = (target.parent_path() / hidden).string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0)
    throw UserError("cannot write in " + target.parent_path().string() + ": " + std::strerror(errno));
  const std::string path(name.data());
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      const std::string reason = std::strerror(errno);
      ::close(fd);
      ::unlink(path.c_str());
      throw UserError("cannot write " + target.string() + ": " + reason);
    }
    done += static_cast<std::size_t>(n);
  }
  // mkstemp creates 0600; output files are ordinary readable files.
  ::fchmod(fd, 0644);
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const std::string reason = std::strerror(errno);
    ::unlink(path.c_str());
    throw UserError("cannot write " + target.string() + ": " + reason);
  }
  return path;
}

}  // namespace

void writeFilesAtomically(const std::string& folder, const std::map<std::string, std::string>& files) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec || !fs::is_directory(folder))
    throw UserError("cannot create the output folder " + folder +
                    (ec ? ": " + ec.message() : ": a file of that name exists"));
  // A folder in the way of a file would fail its rename after others have
  // been renamed; find it before anything is written.
  for (const auto& [name, content] : files) {
    if (fs::is_directory(fs::path(folder) / name, ec))
      throw UserError("cannot write " + (fs::path(folder) / name).string() + ": a folder of that name exists");
    // A name with a folder part ("best/fit.json") is written into that folder.
    const fs::path parent = (fs::path(folder) / name).parent_path();
    fs::create_directories(parent, ec);
    if (ec || !fs::is_directory(parent))
      throw UserError("cannot create the output folder " + parent.string() +
                      (ec ? ": " + ec.message() : ": a file of that name exists"));
  }
  std::vector<std::pair<std::string, fs::path>> written;  // temporary, final
  try {
    for (const auto& [name, content] : files) {
      const fs::path target = fs::path(folder) / name;
      written.emplace_back(writeTemporary(target, content), target);
    }
  } catch (...) {
    for (const auto& [temporary, target] : written) ::unlink(temporary.c_str());
    throw;
  }
  for (const auto& [temporary, target] : written) {
    if (std::rename(temporary.c_str(), target.c_str()) != 0) {
      const std::string reason = std::strerror(errno);
      for (const auto& [t, f] : written) ::unlink(t.c_str());
      throw UserError("cannot write " + target.string() + ": " + reason);
    }
  }
}

}  // namespace kurv::cli
