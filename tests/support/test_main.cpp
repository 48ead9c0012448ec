// Every test process works in a fresh temporary folder, so files the add-in opens by relative or
// drive-letter names ("C:\..." is an ordinary file name on Linux) never meet another test's.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>

namespace {

class TemporaryFolder : public ::testing::Environment {
 public:
  void SetUp() override {
    std::random_device random;
    folder_ = std::filesystem::temp_directory_path() / ("quorv-test-" + std::to_string(random()));
    std::filesystem::create_directories(folder_);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::current_path(previous_, ignored);
    std::filesystem::remove_all(folder_, ignored);
  }

 private:
  std::filesystem::path folder_, previous_;
};

}  // namespace

int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new TemporaryFolder);
  return RUN_ALL_TESTS();
}
