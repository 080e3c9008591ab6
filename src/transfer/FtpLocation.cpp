#include "transfer/FtpLocation.h"

#include <algorithm>

#include "transfer/ftp/FtpListing.h"

namespace {

bool sameIgnoringAsciiCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && comparePathsIgnoringCase(a, b) == 0;
}

}  // namespace

bool isFtpLocation(std::string_view text) {
    return text.substr(0, kFtpLocationPrefix.size()) == kFtpLocationPrefix;
}

std::string makeFtpLocation(std::string_view name, std::string_view path) {
    std::string location(kFtpLocationPrefix);
    location += name;
    if (path.empty() || path.front() != '/') {
        location += '/';
    }
    location += path;
    return location;
}

bool parseFtpLocation(std::string_view text, std::string& name, std::string& path) {
    name.clear();
    path.clear();
    if (!isFtpLocation(text)) {
        return false;
    }
    const std::string_view rest = text.substr(kFtpLocationPrefix.size());
    const std::size_t slash = rest.find('/');
    if (slash == std::string_view::npos) {
        return false;
    }
    name = rest.substr(0, slash);
    path = rest.substr(slash);
    return true;
}

std::string ftpRootOf(std::string_view loginDirectory) {
    const std::size_t colon = loginDirectory.find(':');
    if (colon == std::string_view::npos) {
        return "/";
    }
    std::string root(loginDirectory.substr(0, colon + 1));
    root += '/';
    return root;
}

std::string normaliseReportedDirectory(std::string_view reply, std::string_view homeDirectory) {
    std::string directory(reply);
    if (!directory.empty() && directory.back() != '/') {
        directory += '/';
    }
    // Only the spelling of the same prefix is replaced. A directory outside the home directory
    // (possible when the change to the root failed at login) keeps its own path: overwriting
    // its first characters would point every later command at a folder that does not exist,
    // or at the wrong one.
    const std::size_t length = homeDirectory.size();
    if (directory.size() >= length && directory.compare(0, length, homeDirectory) != 0 &&
        sameIgnoringAsciiCase(std::string_view(directory).substr(0, length), homeDirectory)) {
        directory.replace(0, length, homeDirectory);
    }
    return directory;
}

DirectoryChange directoryChangeFor(std::string_view path, std::string_view homeDirectory) {
    DirectoryChange change;
    if (path.empty() || path == "/") {
        change.sent = homeDirectory;
    } else {
        change.sent = path;
        if (change.sent.back() == '/') {
            change.sent.pop_back();
        }
    }
    change.expected = change.sent;
    if (change.expected != homeDirectory) {
        change.expected += '/';
    }
    return change;
}

std::string parentFtpDirectory(std::string_view directory) {
    std::string_view trimmed = directory;
    if (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.remove_suffix(1);
    }
    const std::size_t slash = trimmed.rfind('/');
    if (slash == std::string_view::npos) {
        // "/" itself, or a drive root such as "C:/": nothing lies above it.
        return std::string(directory);
    }
    return std::string(trimmed.substr(0, slash + 1));
}

FileEntry ftpFolderEntry(std::string_view directory) {
    FileEntry entry;
    entry.kind = EntryKind::Folder;
    entry.remote = true;
    std::string_view trimmed = directory;
    if (trimmed.size() > 1 && trimmed.back() == '/') {
        trimmed.remove_suffix(1);
    }
    // Only "/" separates on the server: a "\" is part of a Unix file name.
    const std::size_t slash = trimmed.rfind('/');
    if (slash == std::string_view::npos) {
        entry.name = trimmed;
    } else {
        entry.folder = trimmed.substr(0, slash + 1);
        entry.name = trimmed.substr(slash + 1);
    }
    return entry;
}

FileEntryPtr fileEntryFromListing(const ftp::ListingEntry& item, const std::string& folder) {
    auto entry = std::make_shared<FileEntry>();
    entry->folder = folder;
    entry->name = item.name;
    entry->remote = true;
    entry->kind = item.type == ftp::EntryType::Directory ? EntryKind::Folder : EntryKind::File;
    entry->size = item.size.value_or(0);
    if (item.precision != ftp::TimePrecision::None) {
        // A date the packed form cannot hold (before 1980) stays empty rather than wrong, and
        // a time without its date means nothing.
        if (entry->date.set(item.day, item.month, item.year)) {
            entry->time.set(item.hour, item.minute, item.second);
        }
    }
    return entry;
}

bool isPlainAbsolutePath(std::string_view path) {
    if (path.empty() || path.front() != '/') {
        return false;
    }
    std::size_t start = 1;
    while (start < path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part = path.substr(start, end - start);
        const bool last = end == path.size() || end + 1 == path.size();
        if ((part.empty() && !last) || part == "." || part == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}
