#include "transfer/LocalFileOperations.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "common/ErrorReport.h"
#include "transfer/TimedCommand.h"

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kCopyChunk = 256 * 1024;
constexpr mode_t kPermissionBits = 0777;

// The helpers below return 0 or the errno of the failure, so that the one system message the
// caller reads is the one of the step that failed, not of a clean-up after it.
using ErrorCode = int;

bool succeed(ErrorCode code) {
    if (code == 0) {
        return true;
    }
    setLastErrorFromCode(code);
    return false;
}

bool isReadOnly(const struct stat& status) {
    // A symbolic link has no permissions of its own; what it points to is not ours to judge.
    return !S_ISLNK(status.st_mode) && (status.st_mode & S_IWUSR) == 0;
}

ErrorCode examine(const fs::path& path, struct stat& status) {
    return ::lstat(path.c_str(), &status) == 0 ? 0 : errno;
}

class Descriptor {
  public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() { close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }
    ErrorCode close() {
        if (fd_ < 0) {
            return 0;
        }
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }

  private:
    int fd_;
};

// The temporary file of a copy; removed unless it was renamed into place.
class TemporaryFile {
  public:
    explicit TemporaryFile(const fs::path& destination) {
        const fs::path folder =
            destination.has_parent_path() ? destination.parent_path() : fs::path(".");
        // Hidden and recognisable: should the program die mid-copy, the leftover is easy to
        // tell from the user's files.
        std::string name = ".";
        name += destination.filename().string();
        name += ".kelvane-XXXXXX";
        path_ = (folder / name).string();
        fd_ = ::mkostemp(path_.data(), O_CLOEXEC);
        error_ = fd_ < 0 ? errno : 0;
        created_ = fd_ >= 0;
    }
    ~TemporaryFile() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
        if (created_ && !placed_) {
            ::unlink(path_.c_str());
        }
    }
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    ErrorCode openError() const { return error_; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    ErrorCode close() {
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0 ? 0 : errno;
    }
    void placed() { placed_ = true; }

  private:
    std::string path_;
    int fd_ = -1;
    ErrorCode error_ = 0;
    bool created_ = false;
    bool placed_ = false;
};

ErrorCode writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}

ErrorCode copyBytes(int from, int to) {
    std::vector<char> buffer(kCopyChunk);
    for (;;) {
        if (commandShouldEnd()) {
            return ECANCELED;
        }
        const ssize_t count = ::read(from, buffer.data(), buffer.size());
        if (count < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        if (count == 0) {
            return 0;
        }
        if (ErrorCode code = writeAll(to, buffer.data(), static_cast<std::size_t>(count))) {
            return code;
        }
        // A long copy that keeps moving is not a hung one: the limit bounds the silence.
        touchCommandClock();
    }
}

// Puts the temporary file where the destination is: atomically refusing an existing
// destination when asked to.
ErrorCode placeFile(const std::string& temporary, const fs::path& destination, bool noReplace) {
    if (noReplace) {
        if (::renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, destination.c_str(),
                        RENAME_NOREPLACE) == 0) {
            return 0;
        }
        if (errno != EINVAL && errno != ENOSYS) {
            return errno;
        }
        // A file system without the atomic form: check, then rename.
        struct stat status {};
        if (::lstat(destination.c_str(), &status) == 0) {
            return EEXIST;
        }
    }
    return ::rename(temporary.c_str(), destination.c_str()) == 0 ? 0 : errno;
}

struct Owner {
    uid_t user;
    gid_t group;
};

// Copies `source` to a temporary file beside `destination` with the given permissions, the
// source's times and, when given, the owner of the file it replaces, then renames it into place.
ErrorCode copyIntoPlace(const fs::path& source, const fs::path& destination, mode_t mode,
                        const Owner* owner, bool noReplace) {
    Descriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (input.get() < 0) {
        return errno;
    }
    struct stat status {};
    if (::fstat(input.get(), &status) != 0) {
        return errno;
    }
    if (S_ISDIR(status.st_mode)) {
        return EISDIR;
    }
    TemporaryFile output(destination);
    if (ErrorCode code = output.openError()) {
        return code;
    }
    if (ErrorCode code = copyBytes(input.get(), output.fd())) {
        return code;
    }
    if (owner != nullptr && (owner->user != status.st_uid || owner->group != status.st_gid)) {
        // Keeps a shared folder's group on a replaced file; only possible for root or the
        // group's members, and not worth failing the copy for.
        [[maybe_unused]] int ignored = ::fchown(output.fd(), owner->user, owner->group);
    }
    const timespec times[2] = {status.st_atim, status.st_mtim};
    if (::fchmod(output.fd(), mode) != 0 || ::futimens(output.fd(), times) != 0 ||
        ::fsync(output.fd()) != 0) {
        return errno;
    }
    if (ErrorCode code = output.close()) {
        return code;
    }
    if (ErrorCode code = placeFile(output.path(), destination, noReplace)) {
        return code;
    }
    output.placed();
    return 0;
}

ErrorCode copyFile(const fs::path& source, const fs::path& destination, bool failIfExists,
                   bool clearReadOnly) {
    struct stat sourceStatus {};
    if (::stat(source.c_str(), &sourceStatus) != 0) {
        return errno;
    }
    struct stat destinationStatus {};
    const ErrorCode missing = examine(destination, destinationStatus);
    if (missing != 0 && missing != ENOENT) {
        return missing;
    }
    if (missing == ENOENT) {
        return copyIntoPlace(source, destination, sourceStatus.st_mode & kPermissionBits, nullptr,
                             failIfExists);
    }
    if (failIfExists) {
        return EEXIST;
    }
    if (S_ISDIR(destinationStatus.st_mode)) {
        return EISDIR;
    }
    if (isReadOnly(destinationStatus) && !clearReadOnly) {
        return EACCES;
    }
    // The replaced file's permissions carry over, read-only included: the copy takes its place
    // rather than changing what the user allowed on it.
    const Owner owner{destinationStatus.st_uid, destinationStatus.st_gid};
    return copyIntoPlace(source, destination, destinationStatus.st_mode & kPermissionBits, &owner,
                         false);
}

ErrorCode moveFile(const fs::path& source, const fs::path& destination, bool clearReadOnly) {
    struct stat sourceStatus {};
    if (ErrorCode code = examine(source, sourceStatus)) {
        return code;
    }
    struct stat destinationStatus {};
    const bool replacing = examine(destination, destinationStatus) == 0;
    const bool replacingReadOnly =
        replacing && !S_ISDIR(destinationStatus.st_mode) && isReadOnly(destinationStatus);
    if (replacingReadOnly && !clearReadOnly) {
        return EACCES;
    }
    if (::rename(source.c_str(), destination.c_str()) == 0) {
        if (replacingReadOnly) {
            ::chmod(destination.c_str(), destinationStatus.st_mode & kPermissionBits);
        }
        return 0;
    }
    if (errno != EXDEV || !S_ISREG(sourceStatus.st_mode)) {
        return errno;
    }
    // Another file system: the file moves by copy and delete, and keeps its own permissions
    // unless it replaces a read-only file.
    const mode_t mode =
        (replacingReadOnly ? destinationStatus.st_mode : sourceStatus.st_mode) & kPermissionBits;
    if (ErrorCode code = copyIntoPlace(source, destination, mode, nullptr, false)) {
        return code;
    }
    return ::unlink(source.c_str()) == 0 ? 0 : errno;
}

// Runs `change` on a path whose owner write permission is switched on for the time of it; the
// permissions go back when the change failed (on success the path is gone).
template <typename Change>
ErrorCode withWritePermission(const fs::path& path, const struct stat& status, Change change) {
    const mode_t old = status.st_mode & ~S_IFMT;
    if (::chmod(path.c_str(), old | S_IWUSR) != 0) {
        return errno;
    }
    if (change() == 0) {
        return 0;
    }
    const ErrorCode code = errno;
    ::chmod(path.c_str(), old);
    return code;
}

ErrorCode deleteFile(const fs::path& path, bool clearReadOnly) {
    struct stat status {};
    if (ErrorCode code = examine(path, status)) {
        return code;
    }
    if (S_ISDIR(status.st_mode) || !isReadOnly(status)) {
        return ::unlink(path.c_str()) == 0 ? 0 : errno;
    }
    if (!clearReadOnly) {
        return EACCES;
    }
    return withWritePermission(path, status, [&path] { return ::unlink(path.c_str()); });
}

bool runLocalFileCommand(const fs::path& first, const fs::path& second, bool failIfExists,
                         bool clearReadOnly, ErrorCode (*operation)(const TimedCommand&)) {
    auto command = std::make_shared<TimedCommand>();
    command->firstPath = first.string();
    command->secondPath = second.string();
    command->failIfExists = failIfExists;
    command->clearReadOnly = clearReadOnly;
    return runLocalCommand(std::move(command), [operation](TimedCommand& record) {
        return succeed(operation(record));
    });
}

}  // namespace

bool copyLocalFile(const fs::path& source, const fs::path& destination, bool failIfExists,
                   bool clearReadOnly) {
    return runLocalFileCommand(source, destination, failIfExists, clearReadOnly,
                               [](const TimedCommand& command) {
                                   return copyFile(command.firstPath, command.secondPath,
                                                   command.failIfExists, command.clearReadOnly);
                               });
}

bool moveLocalFile(const fs::path& source, const fs::path& destination, bool clearReadOnly) {
    return runLocalFileCommand(
        source, destination, false, clearReadOnly, [](const TimedCommand& command) {
            return moveFile(command.firstPath, command.secondPath, command.clearReadOnly);
        });
}

bool deleteLocalFile(const fs::path& path, bool clearReadOnly) {
    return runLocalFileCommand(path, {}, false, clearReadOnly, [](const TimedCommand& command) {
        return deleteFile(command.firstPath, command.clearReadOnly);
    });
}

bool createLocalDirectory(const fs::path& path, std::optional<fs::perms> mode) {
    std::error_code ignored;
    if (fs::is_directory(path, ignored)) {
        return true;
    }
    if (::mkdir(path.c_str(), kPermissionBits) != 0) {
        const ErrorCode code = errno;
        if (code == EEXIST && fs::is_directory(path, ignored)) {
            return true;  // made by someone else in the meantime
        }
        // Callers add lastErrorText to their report; without this it would name an older,
        // unrelated failure.
        return succeed(code);
    }
    if (mode) {
        // The folder exists either way; the result is that of its creation.
        ::chmod(path.c_str(), static_cast<mode_t>(*mode));
    }
    return true;
}

bool removeLocalDirectory(const fs::path& path, bool clearReadOnly) {
    struct stat status {};
    if (examine(path, status) == 0 && S_ISDIR(status.st_mode) && isReadOnly(status)) {
        if (!clearReadOnly) {
            return succeed(EACCES);
        }
        return succeed(
            withWritePermission(path, status, [&path] { return ::rmdir(path.c_str()); }));
    }
    return succeed(::rmdir(path.c_str()) == 0 ? 0 : errno);
}
