#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

// The attribute bits the folder tree tests, with the values it always had. On Linux a name that
// starts with "." is hidden, a device, pipe or socket counts as a system file, and compressed
// and encrypted are what the file system reports for the inode (statx: btrfs, f2fs and ext2
// compression, fscrypt encryption). Temporary and offline have no Linux counterpart.
enum LocalAttribute : std::uint32_t {
    kAttributeHidden = 0x2,
    kAttributeSystem = 0x4,
    kAttributeEncrypted = 0x40,
    kAttributeTemporary = 0x100,
    kAttributeCompressed = 0x800,
    kAttributeOffline = 0x1000,
};

// The compressed and encrypted bits of statx's attribute word.
std::uint32_t attributesOfStatx(std::uint64_t statxAttributes);

// Which entries of a folder the tree lists: every folder whatever its attributes; files only
// when shown, matching the mask and with none of the hidden attributes.
struct LocalTreeFilter {
    bool showFiles = false;
    std::string fileMask = "*.*";
    std::uint32_t hiddenMask =
        kAttributeHidden | kAttributeSystem | kAttributeTemporary | kAttributeOffline;
};

bool isListedTreeFile(const std::string& name, std::uint32_t attributes,
                      const LocalTreeFilter& filter);

struct LocalTreeEntry {
    std::string name;
    bool folder = false;
    std::uint32_t attributes = 0;
};

// The order of a folder's entries in the tree: folders first, each part by name ignoring letter
// case (names equal but for case in byte order).
bool localTreeOrder(const LocalTreeEntry& a, const LocalTreeEntry& b);

// One folder of the tree, folders first, each part by name ignoring letter case. One readdir
// pass: an entry is looked at by itself only when the folder does not say its type or it is a
// link (a link to a folder is listed as a folder). False with the errno value when the folder
// cannot be read.
bool readLocalTreeFolder(const std::string& folder, const LocalTreeFilter& filter,
                         std::vector<LocalTreeEntry>& entries, int& error);

// What takes one look at each listed item: its compressed and encrypted attributes and, for a
// folder, whether it holds anything the tree would list below it.
struct LocalTreeDetails {
    bool hasChildren = false;
    std::uint32_t attributes = 0;
};

LocalTreeDetails readLocalTreeDetails(const std::string& path, bool folder,
                                      const LocalTreeFilter& filter);

// Reads folders for the tree on threads of their own, so that a folder of thousands of
// sub-folders (or one on a slow network mount) never holds up the window. The listing is handed
// over first; the details of its items follow in batches. Results reach the receiver's thread
// by queued invocation and only while this reader lives; the threads never touch a widget.
class LocalTreeReader {
  public:
    struct DetailsItem {
        std::size_t index = 0;  // in the listing, or in the paths of readDetails
        std::string name;
        LocalTreeDetails details;
    };
    using ListingRead =
        std::function<void(std::uint64_t id, bool ok, std::vector<LocalTreeEntry> entries)>;
    // `last` marks the final batch of a reading (which may be empty).
    using DetailsRead =
        std::function<void(std::uint64_t id, std::vector<DetailsItem> items, bool last)>;

    LocalTreeReader(QObject* receiver, ListingRead listingRead, DetailsRead detailsRead);
    // Nothing reaches the receiver afterwards; threads still reading end on their own.
    ~LocalTreeReader();
    LocalTreeReader(const LocalTreeReader&) = delete;
    LocalTreeReader& operator=(const LocalTreeReader&) = delete;

    // Lists `folder`; then, for the folders among the entries (and the files, with
    // `fileDetails`), reads their details.
    void read(std::uint64_t id, const std::string& folder, const LocalTreeFilter& filter,
              bool fileDetails);
    // The details of folders the tree did not list itself (drives, shares).
    void readDetails(std::uint64_t id, std::vector<std::string> paths,
                     const LocalTreeFilter& filter);
    // The reading of `id` ends at its next item, and nothing more of it is handed over; also
    // what forgets a reading whose last batch has arrived.
    void cancel(std::uint64_t id);
    void cancelAll();

  private:
    struct Mailbox;
    using Token = std::shared_ptr<std::atomic<bool>>;
    using DetailsPost = std::function<void(std::vector<DetailsItem> batch, bool last)>;
    Token tokenFor(std::uint64_t id);
    // What a reader thread calls with each batch of details.
    static DetailsPost detailsPost(std::shared_ptr<Mailbox> mailbox, std::uint64_t id);

    std::shared_ptr<Mailbox> mailbox_;
    std::unordered_map<std::uint64_t, Token> tokens_;
};
