#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>

class ConnectionDetails;

// The file of the settings folder that lists uploads begun and not known to have finished.
inline constexpr const char* kUnfinishedUploadsFileName = "KelvaneUnfinishedUploads.txt";

// Uploads that began and did not end with the server's word that the file is complete. A cut
// upload deletes what it sent while the connection allows it, but when the program is killed,
// the machine goes down or the server dies, part of a file stays on the server under its own
// name, newer than the local file: compared on time it looks up to date for ever. The next run
// of that connection overwrites every file listed here, whatever the comparison says.
//
// Kept as a journal: a line is appended before each STOR and another after its 226, written
// with the next upload's line, so an upload costs one small write and no rewrite of the file.
// The line of an upload reaches the system before STOR is sent, so it survives the program
// being killed; it is synced to the disk only for large files, whose uploads last long enough
// to be cut by a power loss, while for smaller ones the sync (some milliseconds on a virtual
// disk) would cost as much as the upload. The file is rewritten with only what is still
// unfinished when it is opened and closed (and every few thousand uploads), and removed when
// nothing is.
//
// Several programs may use the same settings folder at once: each holds a shared lock on the
// file while it appends, and only a program that can lock it alone rewrites it.
//
// An upload is known by its connection (name, server, port and user, so that a connection
// renamed or pointed elsewhere is not taken for the old one) and its full server path. Used on
// the user-interface thread only. Failures to read or write the file are silent: they cost the
// repair, never an upload.
class UnfinishedUploads {
  public:
    explicit UnfinishedUploads(std::filesystem::path file);
    ~UnfinishedUploads();
    UnfinishedUploads(const UnfinishedUploads&) = delete;
    UnfinishedUploads& operator=(const UnfinishedUploads&) = delete;

    // Files of this size or more have their begin line synced to the disk before STOR.
    static constexpr std::uint64_t kSyncedSize = 8 * 1024 * 1024;

    // Before STOR of `size` bytes to `remotePath`.
    void begin(const ConnectionDetails& connection, const std::string& remotePath,
               std::uint64_t size);
    // After the server confirmed the whole file, or deleted it: no partial file is left.
    void finish(const ConnectionDetails& connection, const std::string& remotePath);
    // Whether an upload to `remotePath` over this connection began and never finished.
    bool contains(const ConnectionDetails& connection, const std::string& remotePath) const;
    bool empty() const { return unfinished_.empty(); }

    const std::filesystem::path& file() const { return file_; }

  private:
    static std::string keyOf(const ConnectionDetails& connection, std::string_view remotePath);
    // Opens the file for appending under a shared lock, creating it (and the settings folder)
    // when asked to.
    bool openShared(bool create);
    void closeFile();
    static void addLine(std::string& lines, std::string_view kind, const std::string& key);
    void write(const std::string& lines, bool sync);
    // What the file says is unfinished, lines of every program included.
    void readFile();
    // Rewrites the file with only the unfinished uploads, when no other program has it open.
    void compact();

    std::filesystem::path file_;
    int fd_ = -1;
    std::unordered_set<std::string> unfinished_;
    std::string finishedLines_;  // not written yet
    std::size_t writesSinceCompact_ = 0;
    std::size_t linesInFile_ = 0;  // at the last readFile
};

// The record the upload and the analysis consult (null: none, nothing is recorded). A front
// end installs one for the settings folder it uses and removes it before it goes; returns the
// previous one.
UnfinishedUploads* setUnfinishedUploads(UnfinishedUploads* record);
UnfinishedUploads* unfinishedUploads();
