// The ordinary test of a fuzz target: every file of its seed corpus and of its
// regression folder (inputs that once made it fail), named in QVR_FUZZ_INPUTS
// as folders separated by ":", goes through the target's entry function. An
// input that crashes ends this test with the crash; one that raises fails it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* AData, std::size_t ASize);

namespace {

std::vector<std::filesystem::path> KeptInputs() {
  const char* folders = std::getenv("QVR_FUZZ_INPUTS");
  std::vector<std::filesystem::path> inputs;
  std::stringstream list(folders != nullptr ? folders : "");
  std::string folder;
  while (std::getline(list, folder, ':')) {
    std::error_code ec;
    if (folder.empty() || !std::filesystem::is_directory(folder, ec)) continue;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      if (entry.is_regular_file() && entry.path().filename().string().front() != '.') {
        inputs.push_back(entry.path());
      }
    }
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

TEST(FuzzReplayTest, EveryKeptInputRunsClean) {
  const auto inputs = KeptInputs();
  ASSERT_FALSE(inputs.empty()) << "no inputs in QVR_FUZZ_INPUTS";
  for (const auto& path : inputs) {
    SCOPED_TRACE(path.string());
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in),
                                  std::istreambuf_iterator<char>()};
    EXPECT_EQ(
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()),
        0);
  }
}

}  // namespace
