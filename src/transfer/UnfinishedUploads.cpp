#include "transfer/UnfinishedUploads.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>

#include "profiles/AtomicFile.h"
#include "transfer/ConnectionDetails.h"

namespace {

constexpr std::string_view kStarted = "started";
constexpr std::string_view kFinished = "finished";
constexpr char kField = '\t';
// Fields of a key: name, server, port, user, path.
constexpr long kKeySeparators = 4;
// A long run rewrites its journal now and then, so that it never grows much past this many
// uploads.
constexpr std::size_t kWritesBetweenCompactions = 4096;

UnfinishedUploads* installed = nullptr;

// Keeps every field on its line and apart from the others, whatever bytes it holds.
void appendEscaped(std::string& out, std::string_view text) {
    for (const char c : text) {
        switch (c) {
            case '%':
                out += "%25";
                break;
            case '\t':
                out += "%09";
                break;
            case '\n':
                out += "%0A";
                break;
            case '\r':
                out += "%0D";
                break;
            default:
                out += c;
        }
    }
}

bool writeAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

int lockFile(int fd, int operation) {
    int result = 0;
    do {
        result = ::flock(fd, operation);
    } while (result != 0 && errno == EINTR);
    return result;
}

}  // namespace

UnfinishedUploads::UnfinishedUploads(std::filesystem::path file) : file_(std::move(file)) {
    if (openShared(false)) {
        readFile();
        compact();
    }
}

UnfinishedUploads::~UnfinishedUploads() {
    compact();
    closeFile();
}

std::string UnfinishedUploads::keyOf(const ConnectionDetails& connection,
                                     std::string_view remotePath) {
    std::string key;
    key.reserve(connection.name.size() + connection.server.size() + connection.user.size() +
                remotePath.size() + 12);
    appendEscaped(key, connection.name);
    key += kField;
    appendEscaped(key, connection.server);
    key += kField;
    key += std::to_string(connection.port);
    key += kField;
    appendEscaped(key, connection.user);
    key += kField;
    appendEscaped(key, remotePath);
    return key;
}

void UnfinishedUploads::begin(const ConnectionDetails& connection, const std::string& remotePath,
                              std::uint64_t size) {
    std::string key = keyOf(connection, remotePath);
    std::string lines = std::exchange(finishedLines_, {});
    addLine(lines, kStarted, key);
    write(lines, size >= kSyncedSize);
    unfinished_.insert(std::move(key));
}

void UnfinishedUploads::finish(const ConnectionDetails& connection, const std::string& remotePath) {
    if (unfinished_.empty()) {
        return;
    }
    const std::string key = keyOf(connection, remotePath);
    // Only what this program knows to be unfinished: an upload another program began after
    // this one read the file is that program's to finish.
    if (unfinished_.erase(key) != 0) {
        // Written with the next line or when the file is tidied up: one write per upload. A
        // program killed in between uploads that one file again.
        addLine(finishedLines_, kFinished, key);
    }
}

bool UnfinishedUploads::contains(const ConnectionDetails& connection,
                                 const std::string& remotePath) const {
    return !unfinished_.empty() && unfinished_.contains(keyOf(connection, remotePath));
}

bool UnfinishedUploads::openShared(bool create) {
    if (fd_ >= 0) {
        return true;
    }
    if (create) {
        std::error_code ignored;
        std::filesystem::create_directories(file_.parent_path(), ignored);
    }
    // Another program may rewrite the file between our open and our lock; the file then opened
    // is no longer the one under the name, and lines written to it would be lost.
    for (int attempt = 0; attempt < 5; ++attempt) {
        const int fd =
            ::open(file_.c_str(), O_RDWR | O_APPEND | O_CLOEXEC | (create ? O_CREAT : 0), 0600);
        if (fd < 0) {
            return false;
        }
        struct stat opened {};
        struct stat named {};
        const bool locked = lockFile(fd, LOCK_SH) == 0 && ::fstat(fd, &opened) == 0;
        const bool stillNamed = ::stat(file_.c_str(), &named) == 0;
        const bool gone = !stillNamed && errno == ENOENT;
        if (locked && stillNamed && opened.st_ino == named.st_ino &&
            opened.st_dev == named.st_dev) {
            fd_ = fd;
            // A power loss in the middle of a line left it without its end. The next line must
            // not be glued to it, and it must not pass for a whole line once it has an end: a
            // field more makes it one that readFile refuses.
            char last = '\n';
            if (opened.st_size > 0 && ::pread(fd, &last, 1, opened.st_size - 1) == 1 &&
                last != '\n') {
                writeAll(fd, "\t\n");
            }
            return true;
        }
        ::close(fd);
        if (gone && !create) {
            return false;  // removed because nothing was left unfinished
        }
    }
    return false;
}

void UnfinishedUploads::closeFile() {
    if (fd_ >= 0) {
        ::close(fd_);  // releases the lock
        fd_ = -1;
    }
}

void UnfinishedUploads::addLine(std::string& lines, std::string_view kind, const std::string& key) {
    lines += kind;
    lines += kField;
    lines += key;
    lines += '\n';
}

void UnfinishedUploads::write(const std::string& lines, bool sync) {
    if (!openShared(true)) {
        return;
    }
    // Whole lines in one write: appends of several programs never interleave inside a line.
    if (!writeAll(fd_, lines)) {
        return;
    }
    if (sync) {
        ::fdatasync(fd_);
    }
    if (++writesSinceCompact_ >= kWritesBetweenCompactions) {
        compact();
    }
}

void UnfinishedUploads::readFile() {
    std::string content;
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        const ssize_t count = ::pread(fd_, buffer, sizeof buffer, offset);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(count));
        offset += count;
    }
    unfinished_.clear();
    linesInFile_ = 0;
    std::size_t start = 0;
    // A line without its end was cut off by a crash; it is not taken.
    for (std::size_t end = content.find('\n'); end != std::string::npos;
         start = end + 1, end = content.find('\n', start)) {
        ++linesInFile_;
        const std::string_view line(content.data() + start, end - start);
        const std::size_t split = line.find(kField);
        if (split == std::string_view::npos) {
            continue;
        }
        const std::string_view kind = line.substr(0, split);
        const std::string_view key = line.substr(split + 1);
        if (std::count(key.begin(), key.end(), kField) != kKeySeparators || key.back() == kField) {
            continue;  // not a whole line: a field or the path is missing
        }
        if (kind == kStarted) {
            unfinished_.emplace(key);
        } else if (kind == kFinished) {
            unfinished_.erase(std::string(key));
        }
    }
    if (start < content.size()) {
        ++linesInFile_;  // the cut-off line, for compact() to leave out
    }
}

void UnfinishedUploads::compact() {
    if (!openShared(false)) {
        finishedLines_.clear();  // no file: nothing there is unfinished
        return;
    }
    if (!finishedLines_.empty()) {
        writeAll(fd_, std::exchange(finishedLines_, {}));
    }
    if (lockFile(fd_, LOCK_EX | LOCK_NB) != 0) {
        // Another program has the file open and rewrites it when it can. Turning the shared
        // lock into an exclusive one may have dropped it, so the file is opened afresh for the
        // next line.
        closeFile();
        return;
    }
    // Alone with the file: it holds the whole truth, other programs' lines included.
    readFile();
    writesSinceCompact_ = 0;
    if (!unfinished_.empty() && linesInFile_ == unfinished_.size()) {
        // Nothing to leave out; the file stays, and so does this program's share of it.
        if (lockFile(fd_, LOCK_SH) != 0) {
            closeFile();
        }
        return;
    }
    std::string content;
    for (const std::string& key : unfinished_) {
        content.append(kStarted);
        content += kField;
        content += key;
        content += '\n';
    }
    if (content.empty()) {
        ::unlink(file_.c_str());
    } else {
        writeFileAtomically(file_, content, 0600);
    }
    // The name now leads to another file (or none); a program waiting for our lock sees that.
    closeFile();
}

UnfinishedUploads* setUnfinishedUploads(UnfinishedUploads* record) {
    return std::exchange(installed, record);
}

UnfinishedUploads* unfinishedUploads() {
    return installed;
}
