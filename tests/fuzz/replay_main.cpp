// Replays a fuzz target's corpus without libFuzzer: every file of the folder
// given as the argument goes through LLVMFuzzerTestOneInput once, so inputs
// that once crashed a target stay fixed. Under the sanitizer build a bad read
// or write aborts the run; the replay itself fails only on an empty folder
// (a wrong path would otherwise pass silently).
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
int main(int argc, char** argv) {
  if (argc != 2) return 2;
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1])) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    std::printf("%s (%zu bytes)\n", entry.path().filename().c_str(), bytes.size());
    std::fflush(stdout);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    ++count;
  }
  std::printf("%d inputs replayed\n", count);
  return count > 0 ? 0 : 1;
}
