// Temporary folders of the unit tests.
#pragma once

#include <filesystem>
#include <random>
#include <string>

#include <gtest/gtest.h>

namespace kyvex::testing {

// A folder below the system's temporary folder for the running test, named by `prefix`, the
// test and this run: two test programs (the sanitizer's and the plain build's, or two checkouts)
// may run the same test at the same time, and must not share its files.
inline std::filesystem::path TestFolder(const std::string& prefix) {
  static const std::string run = std::to_string(std::random_device{}());
  return std::filesystem::temp_directory_path() /
         (prefix + ::testing::UnitTest::GetInstance()->current_test_info()->name() + "-" + run);
}

}  // namespace kyvex::testing
