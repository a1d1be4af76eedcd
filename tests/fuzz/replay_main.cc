// Corpus replay: runs every file named on the command line (directories are
// walked recursively, in name order) through the surface's
// LLVMFuzzerTestOneInput once. Exit status 0 when at least one input ran;
// a fault in the target aborts under the sanitizers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> CollectInputs(int argc, char** argv) {
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    if (fs::is_directory(arg)) {
      for (const auto& entry : fs::recursive_directory_iterator(arg)) {
        if (entry.is_regular_file()) inputs.push_back(entry.path());
      }
    } else if (fs::is_regular_file(arg)) {
      inputs.push_back(arg);
    } else {
      std::fprintf(stderr, "replay: no such input %s\n", argv[i]);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

bool RunOne(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // An exactly-sized copy, so reads past the end are caught.
  std::vector<uint8_t> data(raw.begin(), raw.end());
  LLVMFuzzerTestOneInput(data.data(), data.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  const std::vector<fs::path> inputs = CollectInputs(argc, argv);
  size_t ran = 0;
  for (const fs::path& path : inputs) {
    if (RunOne(path)) ++ran;
  }
  std::printf("replay: %zu of %zu inputs run\n", ran, inputs.size());
  return ran > 0 && ran == inputs.size() ? 0 : 1;
}
