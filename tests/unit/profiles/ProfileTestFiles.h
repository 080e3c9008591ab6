#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "profiles/PersistentRecord.h"
#include "support/TempFolder.h"

// Files of the profile and batch tests: the hand-written samples under tests/data/files.
namespace profiletest {

using testsupport::TempFolder;

inline std::filesystem::path dataFile(const std::string& name) {
    return std::filesystem::path(KELVANE_TEST_DATA) / "files" / name;
}

inline std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in) << "cannot open " << path;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void writeBytes(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    ASSERT_TRUE(out.good()) << "cannot write " << path;
}

inline std::string withoutCarriageReturns(std::string text) {
    std::erase(text, '\r');
    return text;
}

// fileFormatVersion is process-wide; every test that reads a file puts it back.
class FormatVersionGuard : public ::testing::Test {
  protected:
    void TearDown() override { fileFormatVersion = saved_; }

  private:
    double saved_ = fileFormatVersion;
};

}  // namespace profiletest
