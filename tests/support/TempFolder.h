#pragma once

#include <cstddef>
#include <filesystem>
#include <map>
#include <string>

namespace testsupport {

// A fresh folder under the system's temporary folder, removed with everything in it when the
// object goes, also when the test that made it fails.
class TempFolder {
  public:
    explicit TempFolder(const std::string& prefix = "kelvane-test");
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

// Whole-file helpers for tests that compare bytes on disk.
std::string readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::string& bytes);

// `size` bytes that look like a compressed file, the same for the same seed.
std::string randomBytes(std::size_t size, unsigned seed);
// Every file (with its bytes) and folder (with a trailing "/", and no bytes) below `top`, by
// relative path: what two trees are compared by.
std::map<std::string, std::string> treeOf(const std::filesystem::path& top);

}  // namespace testsupport
