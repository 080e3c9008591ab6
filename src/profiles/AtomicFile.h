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
