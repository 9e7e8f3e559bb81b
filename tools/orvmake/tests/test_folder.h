// A fresh folder for each test of the compiler, under the system's temporary folder and removed after
// the test, with helpers to write and read files in it.
#pragma once
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace orv::make {

inline std::string readAll(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class TestFolder : public ::testing::Test {
 protected:
  // `tag` keeps the folders of one fixture apart from another's.
  explicit TestFolder(std::string tag) : tag_(std::move(tag)) {}

  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() /
            ("orvmake-" + tag_ + "-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(root_);
    std::filesystem::create_directories(root_);
  }
  void TearDown() override { std::filesystem::remove_all(root_); }

  // Writes the file below the folder, making its parent folders.
  void write(const std::string& name, const std::string& text) const {
    std::filesystem::create_directories((root_ / name).parent_path());
    std::ofstream(root_ / name, std::ios::binary) << text;
  }

  std::filesystem::path root_;

 private:
  std::string tag_;
};

}  // namespace orv::make
