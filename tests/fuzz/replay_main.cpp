// A fuzz target's corpus replayed once, input by input, where libFuzzer is
// not at hand (g++): the same invariants, each input's name printed first so
// that a broken one is found at once.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s CORPUS-DIRECTORY\n", argv[0]);
    return 2;
  }
  std::vector<std::filesystem::path> inputs;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(argv[1], error))
    if (entry.is_regular_file())
      inputs.push_back(entry.path());
  if (error || inputs.empty()) {
    std::fprintf(stderr, "no inputs in %s\n", argv[1]);
    return 2;
  }
  std::sort(inputs.begin(), inputs.end());
  for (const auto& input : inputs) {
    std::fprintf(stderr, "input %s\n", input.filename().c_str());
    std::ifstream file(input, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs, nothing broke\n", inputs.size());
  return 0;
}
