#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include <sys/types.h>

// Writes `content` to a temporary file in the same folder and renames it over `path`, so a
// failed save never destroys the previous file. `mode` is applied to the new file before the
// rename. On failure returns false and, when `error` is given, the system's reason.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view content,
                         mode_t mode = 0644, std::string* error = nullptr);

class PersistentRecord;

// Writes `record` into `path` through writeFileAtomically. The record's write() runs on a memory
// stream first, so nothing on disk changes when it fails.
bool saveRecordToFile(PersistentRecord& record, const std::filesystem::path& path,
                      mode_t mode = 0644, std::string* error = nullptr);

// Reads `record` from `path`. False when the file cannot be opened or is a folder (which opens
// as a stream on Linux and would only read as "not a record"); the record decides for itself
// what it keeps of a file it cannot read.
bool loadRecordFromFile(PersistentRecord& record, const std::filesystem::path& path);

// saveRecordToFile for a record the user edits. write() clears its `modified` flag; a save that
// did not reach the disk must leave it set, or the program would not ask to save again.
template <class EditedRecord>
bool saveEditedRecord(EditedRecord& record, const std::filesystem::path& path, std::string* error) {
    const bool wasModified = record.modified;
    if (!saveRecordToFile(record, path, 0644, error)) {
        record.modified = wasModified;
        return false;
    }
    return true;
}
