// Each fuzz target's corpus replayed once, input by input, where libFuzzer
// is not at hand (g++): the same invariants, each input's name printed first
// so that a broken one is found at once.
//
//   fuzz_replay TARGET CORPUS-DIRECTORY
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// Each target's LLVMFuzzerTestOneInput, renamed as tests/fuzz/CMakeLists.txt
// compiles it.
#define NLCONF_ENTRY(target) extern "C" int fuzzEntry_##target(const uint8_t* data, size_t size);
NLCONF_ENTRY(at_replies)
NLCONF_ENTRY(read_write)
NLCONF_ENTRY(discovery)
NLCONF_ENTRY(link_receive)
NLCONF_ENTRY(settings_file)
NLCONF_ENTRY(range_receive)
NLCONF_ENTRY(record_line)
NLCONF_ENTRY(port_note)

namespace {

using Entry = int (*)(const uint8_t*, size_t);
struct Target {
  const char* name;
  Entry entry;
};
constexpr Target kTargets[] = {
    {"at_replies", fuzzEntry_at_replies},       {"read_write", fuzzEntry_read_write},
    {"discovery", fuzzEntry_discovery},         {"link_receive", fuzzEntry_link_receive},
    {"settings_file", fuzzEntry_settings_file}, {"range_receive", fuzzEntry_range_receive},
    {"record_line", fuzzEntry_record_line},     {"port_note", fuzzEntry_port_note}};

Entry entryNamed(const char* name) {
  for (const Target& t : kTargets)
    if (std::strcmp(t.name, name) == 0)
      return t.entry;
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  const Entry entry = argc == 3 ? entryNamed(argv[1]) : nullptr;
  if (!entry) {
    std::fprintf(stderr, "usage: %s TARGET CORPUS-DIRECTORY\n", argv[0]);
    return 2;
  }
  std::vector<std::filesystem::path> inputs;
  std::error_code error;
  for (const auto& file : std::filesystem::directory_iterator(argv[2], error))
    if (file.is_regular_file())
      inputs.push_back(file.path());
  if (error || inputs.empty()) {
    std::fprintf(stderr, "no inputs in %s\n", argv[2]);
    return 2;
  }
  std::sort(inputs.begin(), inputs.end());
  for (const auto& input : inputs) {
    std::fprintf(stderr, "input %s\n", input.filename().c_str());
    std::ifstream file(input, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  }
  std::printf("%zu inputs, nothing broke\n", inputs.size());
  return 0;
}
