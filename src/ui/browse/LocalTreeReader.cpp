#include "ui/browse/LocalTreeReader.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <QMetaObject>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

#include "common/FileEntry.h"
#include "profiles/WildcardMatch.h"

namespace {

// Handed over at most this many at a time, or after this long, whichever comes first: often
// enough that the buttons appear while the person looks, seldom enough that the window is not
// kept busy redrawing.
constexpr std::size_t kDetailsBatch = 256;
constexpr auto kDetailsInterval = std::chrono::milliseconds(40);

class Folder {
  public:
    explicit Folder(const std::string& path) : dir_(::opendir(path.c_str())) {}
    ~Folder() {
        if (dir_ != nullptr) {
            ::closedir(dir_);
        }
    }
    Folder(const Folder&) = delete;
    Folder& operator=(const Folder&) = delete;
    bool isOpen() const { return dir_ != nullptr; }
    int fd() const { return ::dirfd(dir_); }
    // The next entry other than "." and "..", null at the end.
    const dirent* next() {
        while (const dirent* entry = ::readdir(dir_)) {
            const std::string_view name = entry->d_name;
            if (name != "." && name != "..") {
                return entry;
            }
        }
        return nullptr;
    }

  private:
    DIR* dir_;
};

struct EntryType {
    bool folder = false;
    bool special = false;  // device, pipe, socket
};

EntryType typeOf(const Folder& folder, const dirent& entry) {
    switch (entry.d_type) {
        case DT_DIR:
            return {true, false};
        case DT_REG:
            return {false, false};
        case DT_LNK:
        case DT_UNKNOWN:
            break;
        default:
            return {false, true};
    }
    struct stat status {};
    if (::fstatat(folder.fd(), entry.d_name, &status, 0) != 0) {
        // A link to nothing is a file that cannot be opened, not a folder.
        return {false, false};
    }
    return {S_ISDIR(status.st_mode), !S_ISDIR(status.st_mode) && !S_ISREG(status.st_mode)};
}

std::uint32_t inodeAttributes(int dirFd, const char* path) {
    struct statx status {};
    if (::statx(dirFd, path, AT_STATX_DONT_SYNC, 0, &status) != 0) {
        return 0;
    }
    return attributesOfStatx(status.stx_attributes & status.stx_attributes_mask);
}

constexpr std::uint32_t kInodeAttributes = kAttributeCompressed | kAttributeEncrypted;

}  // namespace

bool localTreeOrder(const LocalTreeEntry& a, const LocalTreeEntry& b) {
    if (a.folder != b.folder) {
        return a.folder;
    }
    const int order = comparePathsIgnoringCase(a.name, b.name);
    return order != 0 ? order < 0 : a.name < b.name;
}

std::uint32_t attributesOfStatx(std::uint64_t statxAttributes) {
    std::uint32_t attributes = 0;
    if ((statxAttributes & STATX_ATTR_COMPRESSED) != 0) {
        attributes |= kAttributeCompressed;
    }
    if ((statxAttributes & STATX_ATTR_ENCRYPTED) != 0) {
        attributes |= kAttributeEncrypted;
    }
    return attributes;
}

bool isListedTreeFile(const std::string& name, std::uint32_t attributes,
                      const LocalTreeFilter& filter) {
    return filter.showFiles && (attributes & filter.hiddenMask) == 0 &&
           wildcardMatch(filter.fileMask, name);
}

bool readLocalTreeFolder(const std::string& folder, const LocalTreeFilter& filter,
                         std::vector<LocalTreeEntry>& entries, int& error) {
    entries.clear();
    Folder dir(folder);
    if (!dir.isOpen()) {
        error = errno;
        return false;
    }
    errno = 0;
    while (const dirent* found = dir.next()) {
        const EntryType type = typeOf(dir, *found);
        LocalTreeEntry entry;
        entry.name = found->d_name;
        entry.folder = type.folder;
        if (entry.name.front() == '.') {
            entry.attributes |= kAttributeHidden;
        }
        if (type.special) {
            entry.attributes |= kAttributeSystem;
        }
        if (!entry.folder) {
            if (!filter.showFiles) {
                continue;
            }
            // Only a mask that hides compressed or encrypted files needs a look at each file.
            if ((filter.hiddenMask & kInodeAttributes) != 0 && !type.special) {
                entry.attributes |= inodeAttributes(dir.fd(), found->d_name);
            }
            if (!isListedTreeFile(entry.name, entry.attributes, filter)) {
                continue;
            }
        }
        entries.push_back(std::move(entry));
    }
    std::sort(entries.begin(), entries.end(), localTreeOrder);
    return true;
}

LocalTreeDetails readLocalTreeDetails(const std::string& path, bool folder,
                                      const LocalTreeFilter& filter) {
    LocalTreeDetails details;
    details.attributes = inodeAttributes(AT_FDCWD, path.c_str());
    if (!folder) {
        return details;
    }
    Folder dir(path);
    if (!dir.isOpen()) {
        return details;
    }
    while (const dirent* found = dir.next()) {
        const EntryType type = typeOf(dir, *found);
        if (type.folder) {
            details.hasChildren = true;
            break;
        }
        if (filter.showFiles) {
            std::uint32_t attributes =
                found->d_name[0] == '.' ? std::uint32_t{kAttributeHidden} : 0u;
            if (type.special) {
                attributes |= kAttributeSystem;
            }
            if (isListedTreeFile(found->d_name, attributes, filter)) {
                details.hasChildren = true;
                break;
            }
        }
    }
    return details;
}

// ---- The reader threads ----

struct LocalTreeReader::Mailbox {
    std::mutex mutex;
    QObject* receiver = nullptr;
    ListingRead listingRead;
    DetailsRead detailsRead;

    // Posting under the lock: the reader cannot close the mailbox between the look at the
    // receiver and the post, and a receiver's destruction drops what was posted to it.
    void post(std::function<void()> call, const std::shared_ptr<Mailbox>& self) {
        std::lock_guard lock(mutex);
        if (receiver == nullptr) {
            return;
        }
        QMetaObject::invokeMethod(
            receiver,
            [self, call = std::move(call)] {
                if (self->isOpen()) {
                    call();
                }
            },
            Qt::QueuedConnection);
    }
    bool isOpen() {
        std::lock_guard lock(mutex);
        return receiver != nullptr;
    }
    void close() {
        std::lock_guard lock(mutex);
        receiver = nullptr;
    }
};

namespace {

// Reads the details of `paths` (or of the folders and files among `entries` under `folder`),
// handing them over in batches.
template <typename Post>
void readDetailsOf(const std::vector<std::pair<std::size_t, std::string>>& targets,
                   const std::vector<bool>& folders, const LocalTreeFilter& filter,
                   const std::shared_ptr<std::atomic<bool>>& cancelled, Post post) {
    std::vector<LocalTreeReader::DetailsItem> batch;
    auto last = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (cancelled->load()) {
            return;
        }
        const auto& [index, path] = targets[i];
        LocalTreeReader::DetailsItem item;
        item.index = index;
        const std::size_t slash = path.rfind('/');
        item.name = slash == std::string::npos ? path : path.substr(slash + 1);
        item.details = readLocalTreeDetails(path, folders[i], filter);
        batch.push_back(std::move(item));
        const auto now = std::chrono::steady_clock::now();
        if (batch.size() >= kDetailsBatch || now - last >= kDetailsInterval) {
            post(std::exchange(batch, {}), false);
            last = now;
        }
    }
    if (!cancelled->load()) {
        post(std::move(batch), true);
    }
}

std::string childPath(const std::string& folder, const std::string& name) {
    return folder.empty() || folder.back() == '/' ? folder + name : folder + "/" + name;
}

}  // namespace

LocalTreeReader::LocalTreeReader(QObject* receiver, ListingRead listingRead,
                                 DetailsRead detailsRead)
    : mailbox_(std::make_shared<Mailbox>()) {
    mailbox_->receiver = receiver;
    mailbox_->listingRead = std::move(listingRead);
    mailbox_->detailsRead = std::move(detailsRead);
}

LocalTreeReader::~LocalTreeReader() {
    cancelAll();
    mailbox_->close();
}

LocalTreeReader::Token LocalTreeReader::tokenFor(std::uint64_t id) {
    Token token = std::make_shared<std::atomic<bool>>(false);
    tokens_[id] = token;
    return token;
}

void LocalTreeReader::cancel(std::uint64_t id) {
    const auto found = tokens_.find(id);
    if (found != tokens_.end()) {
        found->second->store(true);
        tokens_.erase(found);
    }
}

void LocalTreeReader::cancelAll() {
    for (auto& [id, token] : tokens_) {
        token->store(true);
    }
    tokens_.clear();
}

LocalTreeReader::DetailsPost LocalTreeReader::detailsPost(std::shared_ptr<Mailbox> mailbox,
                                                          std::uint64_t id) {
    return [mailbox = std::move(mailbox), id](std::vector<DetailsItem> batch, bool last) {
        mailbox->post([mailbox, id, batch = std::move(batch),
                       last]() mutable { mailbox->detailsRead(id, std::move(batch), last); },
                      mailbox);
    };
}

void LocalTreeReader::read(std::uint64_t id, const std::string& folder,
                           const LocalTreeFilter& filter, bool fileDetails) {
    std::thread([mailbox = mailbox_, cancelled = tokenFor(id), id, folder, filter, fileDetails] {
        try {
            std::vector<LocalTreeEntry> entries;
            int error = 0;
            const bool ok = readLocalTreeFolder(folder, filter, entries, error);
            if (cancelled->load()) {
                return;
            }
            std::vector<std::pair<std::size_t, std::string>> targets;
            std::vector<bool> folders;
            for (std::size_t i = 0; i < entries.size(); ++i) {
                if (entries[i].folder || fileDetails) {
                    targets.emplace_back(i, childPath(folder, entries[i].name));
                    folders.push_back(entries[i].folder);
                }
            }
            mailbox->post(
                [mailbox, id, ok, entries = std::move(entries)]() mutable {
                    mailbox->listingRead(id, ok, std::move(entries));
                },
                mailbox);
            readDetailsOf(targets, folders, filter, cancelled, detailsPost(mailbox, id));
        } catch (...) {
            // Out of memory on a reader thread: the folder stays unlisted, as one that cannot
            // be read.
        }
    }).detach();
}

void LocalTreeReader::readDetails(std::uint64_t id, std::vector<std::string> paths,
                                  const LocalTreeFilter& filter) {
    std::thread([mailbox = mailbox_, cancelled = tokenFor(id), id, paths = std::move(paths),
                 filter] {
        try {
            std::vector<std::pair<std::size_t, std::string>> targets;
            for (std::size_t i = 0; i < paths.size(); ++i) {
                targets.emplace_back(i, paths[i]);
            }
            readDetailsOf(targets, std::vector<bool>(paths.size(), true), filter, cancelled,
                          detailsPost(mailbox, id));
        } catch (...) {
        }
    }).detach();
}
