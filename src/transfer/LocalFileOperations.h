#pragma once

#include <filesystem>
#include <optional>

// File operations on the local disk. Each reports success as a bool and leaves the system's
// message for the failure in lastErrorText.
//
// A file or folder without the owner's write permission counts as read-only, and the operations
// honour that the same way for every user, root included (the kernel would let root overwrite
// anything): deleting or overwriting a read-only file fails with the access-denied message
// unless clearReadOnly is set. With clearReadOnly the operation goes ahead, and a file that
// replaced a read-only one is read-only again afterwards, so the protection the user put on the
// destination survives the copy.

// Copies the bytes and the modification time of `source` (the sync compares times, so a copy must
// not look newer than its original). The copy is written beside the destination under a
// temporary name and renamed into place, so a copy that fails or is stopped never leaves a
// half-written destination; the previous destination stays as it was. A replaced destination
// keeps its permissions; a new one gets the source's. failIfExists refuses an existing
// destination. A timed local command: one attempt on a worker, within the command time limit,
// which restarts with every chunk copied.
bool copyLocalFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                   bool failIfExists, bool clearReadOnly);

// Moves (renames) a file, replacing an existing destination; across file systems it copies and
// then deletes the source. A timed local command.
bool moveLocalFile(const std::filesystem::path& source, const std::filesystem::path& destination,
                   bool clearReadOnly);

// Deletes a file (a symbolic link itself, never its target). A timed local command.
bool deleteLocalFile(const std::filesystem::path& path, bool clearReadOnly);

// Creates one folder, on the calling thread. A folder that already exists counts as created.
// `mode`, when given, is set on the new folder; otherwise it gets the usual default (0777 less
// the umask).
bool createLocalDirectory(const std::filesystem::path& path,
                          std::optional<std::filesystem::perms> mode = std::nullopt);

// Removes an empty folder, on the calling thread. A read-only folder is removed only with
// clearReadOnly.
bool removeLocalDirectory(const std::filesystem::path& path, bool clearReadOnly);
