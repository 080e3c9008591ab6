#include "profiles/AtomicFile.h"

#include <fstream>
#include <sstream>

#include "profiles/PersistentRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

bool fail(std::string* error, int code, const std::string& tempPath) {
    if (error != nullptr) {
        *error = std::strerror(code);
    }
    if (!tempPath.empty()) {
        ::unlink(tempPath.c_str());
    }
    return false;
}

}  // namespace

bool writeFileAtomically(const std::filesystem::path& path, std::string_view content, mode_t mode,
                         std::string* error) {
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string name = ".";
    name += path.filename().string();
    name += ".XXXXXX";
    std::string pattern = (folder / name).string();
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) {
        return fail(error, errno, {});
    }
    const char* data = content.data();
    std::size_t left = content.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int code = errno;
            ::close(fd);
            return fail(error, code, pattern);
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fchmod(fd, mode) != 0 || ::fsync(fd) != 0) {
        const int code = errno;
        ::close(fd);
        return fail(error, code, pattern);
    }
    if (::close(fd) != 0) {
        return fail(error, errno, pattern);
    }
    if (::rename(pattern.c_str(), path.c_str()) != 0) {
        return fail(error, errno, pattern);
    }
    return true;
}

bool saveRecordToFile(PersistentRecord& record, const std::filesystem::path& path, mode_t mode,
                      std::string* error) {
    std::ostringstream out(std::ios::binary);
    if (!record.write(out)) {
        if (error != nullptr) {
            *error = "The record could not be written";
        }
        return false;
    }
    return writeFileAtomically(path, out.str(), mode, error);
}

bool loadRecordFromFile(PersistentRecord& record, const std::filesystem::path& path) {
    std::error_code ignored;
    if (std::filesystem::is_directory(path, ignored)) {
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    record.read(in);
    return true;
}
