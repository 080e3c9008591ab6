#include "support/TempFolder.h"

#include <stdlib.h>

#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace testsupport {

TempFolder::TempFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::system_error(errno, std::generic_category(), "mkdtemp");
    }
    path_ = pattern;
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    // In one go: a character at a time takes seconds for a file of some megabytes.
    std::ostringstream bytes;
    if (in) {
        bytes << in.rdbuf();
    }
    return bytes.str();
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string randomBytes(std::size_t size, unsigned seed) {
    std::mt19937_64 random(seed);
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xFF);
    }
    return bytes;
}

std::map<std::string, std::string> treeOf(const std::filesystem::path& top) {
    std::map<std::string, std::string> result;
    for (const auto& item : std::filesystem::recursive_directory_iterator(top)) {
        const std::string relative = std::filesystem::relative(item.path(), top).generic_string();
        result[item.is_directory() ? relative + "/" : relative] =
            item.is_directory() ? "" : readFile(item.path());
    }
    return result;
}

}  // namespace testsupport
