#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

// Where the installation-wide settings live. Values are named and typed: a DWORD is a 32-bit
// number (signed quantities are stored as their 32-bit pattern), a string is any sequence of
// bytes. Every call stands on its own, as a registry key opened per access does: a read sees
// what another program wrote a moment ago, and a failed write changes nothing else.
class SettingsStore {
  public:
    virtual ~SettingsStore() = default;

    // Writes return false on failure; callers ignore it and keep their in-memory values.
    virtual bool writeDword(const std::string& name, std::uint32_t value) = 0;
    virtual bool writeString(const std::string& name, const std::string& value) = 0;

    // Empty when the value is missing, cannot be read or holds the other type.
    virtual std::optional<std::uint32_t> readDword(const std::string& name) = 0;
    virtual std::optional<std::string> readString(const std::string& name) = 0;
};

// The settings file kept in the settings folder.
inline constexpr const char* kSettingsFileName = "Kelvane.conf";

// The folder used when the command line names none: $KELVANE_CONFIG_DIR, else
// $XDG_CONFIG_HOME/Quillmere, else ~/.config/Quillmere.
std::filesystem::path defaultSettingsFolder();

// `Kelvane.conf`, a text file of one value per line:
//
//     # comment
//     CommandTimeout=dword:60
//     LogPath=sz:/home/ann/sync.log
//
// Numbers are decimal (0..4294967295; a hand-written negative number is taken as its 32-bit
// pattern). In text, "\\" stands for a backslash, "\n", "\r", "\t" and "\0" for LF, CR, tab and
// NUL, and "\xHH" for any other byte, so every byte survives while each value stays on one line.
// Value names compare without regard to ASCII case, as registry names do. A line that does not
// parse is skipped on reading and kept on writing; when a name appears twice the last valid line
// wins, and the next write of that name leaves a single line.
class FileSettingsStore : public SettingsStore {
  public:
    explicit FileSettingsStore(std::filesystem::path folder);

    bool writeDword(const std::string& name, std::uint32_t value) override;
    bool writeString(const std::string& name, const std::string& value) override;
    std::optional<std::uint32_t> readDword(const std::string& name) override;
    std::optional<std::string> readString(const std::string& name) override;

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path filePath() const { return folder_ / kSettingsFileName; }
    // Why the last write failed.
    const std::string& lastError() const { return lastError_; }

  private:
    bool writeLine(const std::string& name, const std::string& line);

    std::filesystem::path folder_;
    std::string lastError_;
};

// The text form of a string value (without the "sz:" tag) and its reverse; decoding fails on an
// unknown or cut-off escape.
std::string encodeSettingText(const std::string& text);
std::optional<std::string> decodeSettingText(const std::string& encoded);
