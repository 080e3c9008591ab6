#include "profiles/SettingsStore.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "profiles/AtomicFile.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>

namespace {

constexpr std::string_view kDwordTag = "dword:";
constexpr std::string_view kStringTag = "sz:";

constexpr std::string_view kFileHeader =
    "# Kelvane settings: one value per line, Name=dword:<number> or Name=sz:<text>.\n"
    "# In text, \\\\ is a backslash, \\n \\r \\t \\0 are LF, CR, tab and NUL, \\xHH any byte.\n";

// A value as found in the file.
struct StoredValue {
    bool isDword = false;
    std::uint32_t dword = 0;
    std::string text;
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

// Lines of the file without their line ends; a CR left by an editor that writes CR LF is dropped
// (a CR inside a text value is always escaped).
std::vector<std::string_view> splitLines(std::string_view content) {
    std::vector<std::string_view> lines;
    while (!content.empty()) {
        const auto end = content.find('\n');
        std::string_view line = content.substr(0, end);
        content = end == std::string_view::npos ? std::string_view() : content.substr(end + 1);
        lines.push_back(line);
    }
    return lines;
}

std::string_view withoutCr(std::string_view line) {
    if (!line.empty() && line.back() == '\r') {
        line.remove_suffix(1);
    }
    return line;
}

// The value name a line assigns to, if it is not a comment or blank line.
std::optional<std::string_view> lineName(std::string_view line) {
    line = withoutCr(line);
    const std::string_view start = trimBlanks(line);
    if (start.empty() || start.front() == '#' || start.front() == ';') {
        return std::nullopt;
    }
    const auto eq = line.find('=');
    if (eq == std::string_view::npos) {
        return std::nullopt;
    }
    const std::string_view name = trimBlanks(line.substr(0, eq));
    if (name.empty()) {
        return std::nullopt;
    }
    return name;
}

std::optional<std::uint32_t> parseDword(std::string_view text) {
    text = trimBlanks(text);
    if (text.empty()) {
        return std::nullopt;
    }
    long long number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    if (number < -2147483648LL || number > 4294967295LL) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(number);
}

std::optional<StoredValue> parseValue(std::string_view line) {
    line = withoutCr(line);
    std::string_view rest = line.substr(line.find('=') + 1);
    while (!rest.empty() && isBlank(rest.front())) {
        rest.remove_prefix(1);
    }
    StoredValue value;
    if (rest.starts_with(kDwordTag)) {
        const auto number = parseDword(rest.substr(kDwordTag.size()));
        if (!number) {
            return std::nullopt;
        }
        value.isDword = true;
        value.dword = *number;
        return value;
    }
    if (rest.starts_with(kStringTag)) {
        auto text = decodeSettingText(std::string(rest.substr(kStringTag.size())));
        if (!text) {
            return std::nullopt;
        }
        value.text = std::move(*text);
        return value;
    }
    return std::nullopt;
}

// Reads the whole file; false with errno's reason in `error` when it cannot be read.
bool readWholeFile(const std::filesystem::path& path, std::string& content, int& error) {
    content.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return false;
    }
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            error = errno;
            ::close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

std::optional<StoredValue> findValue(const std::filesystem::path& file, std::string_view name) {
    std::string content;
    int error = 0;
    if (!readWholeFile(file, content, error)) {
        return std::nullopt;
    }
    std::optional<StoredValue> found;
    for (const std::string_view line : splitLines(content)) {
        const auto lineNameFound = lineName(line);
        if (!lineNameFound || !sameName(*lineNameFound, name)) {
            continue;
        }
        if (auto value = parseValue(line)) {
            found = std::move(value);
        }
    }
    return found;
}

// Creates the settings folder and any missing parent; new folders are private to the user.
bool ensureFolder(const std::filesystem::path& folder, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(folder, ec)) {
        return true;
    }
    std::filesystem::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) {
            error = std::strerror(errno);
            return false;
        }
    }
    if (!std::filesystem::is_directory(folder, ec)) {
        error = std::strerror(ENOTDIR);
        return false;
    }
    return true;
}

// Serialises the read-modify-write of the file between programs (the desktop program and a
// command-line run may both save settings). The lock sits on the folder because the file itself
// is replaced by every write.
class FolderLock {
  public:
    explicit FolderLock(const std::filesystem::path& folder)
        : fd_(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (fd_ >= 0) {
            while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
            }
        }
    }
    ~FolderLock() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

  private:
    int fd_;
};

bool validName(std::string_view name) {
    if (name.empty() || trimBlanks(name) != name || name.front() == '#' || name.front() == ';') {
        return false;
    }
    return name.find_first_of("=\r\n") == std::string_view::npos;
}

std::filesystem::path homeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir) {
        return entry->pw_dir;
    }
    return ".";
}

}  // namespace

std::string encodeSettingText(const std::string& text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\\':
                encoded += "\\\\";
                break;
            case '\n':
                encoded += "\\n";
                break;
            case '\r':
                encoded += "\\r";
                break;
            case '\t':
                encoded += "\\t";
                break;
            case '\0':
                encoded += "\\0";
                break;
            default:
                if (byte < 0x20 || byte == 0x7f) {
                    encoded += "\\x";
                    encoded += kHex[byte >> 4];
                    encoded += kHex[byte & 0x0f];
                } else {
                    encoded += c;
                }
        }
    }
    return encoded;
}

std::optional<std::string> decodeSettingText(const std::string& encoded) {
    const auto hexDigit = [](char c) -> int {
        if (c >= '0' && c <= '9') {
            return c - '0';
        }
        if (c >= 'a' && c <= 'f') {
            return c - 'a' + 10;
        }
        if (c >= 'A' && c <= 'F') {
            return c - 'A' + 10;
        }
        return -1;
    };
    std::string text;
    text.reserve(encoded.size());
    for (std::size_t i = 0; i < encoded.size(); ++i) {
        if (encoded[i] != '\\') {
            text += encoded[i];
            continue;
        }
        if (++i == encoded.size()) {
            return std::nullopt;
        }
        switch (encoded[i]) {
            case '\\':
                text += '\\';
                break;
            case 'n':
                text += '\n';
                break;
            case 'r':
                text += '\r';
                break;
            case 't':
                text += '\t';
                break;
            case '0':
                text += '\0';
                break;
            case 'x': {
                if (i + 2 >= encoded.size()) {
                    return std::nullopt;
                }
                const int high = hexDigit(encoded[i + 1]);
                const int low = hexDigit(encoded[i + 2]);
                if (high < 0 || low < 0) {
                    return std::nullopt;
                }
                text += static_cast<char>(high * 16 + low);
                i += 2;
                break;
            }
            default:
                return std::nullopt;
        }
    }
    return text;
}

std::filesystem::path defaultSettingsFolder() {
    if (const char* dir = std::getenv("KELVANE_CONFIG_DIR"); dir != nullptr && *dir != '\0') {
        return dir;
    }
    // The XDG base directory rules ignore a relative XDG_CONFIG_HOME.
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        return std::filesystem::path(xdg) / "Quillmere";
    }
    return homeFolder() / ".config" / "Quillmere";
}

FileSettingsStore::FileSettingsStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

bool FileSettingsStore::writeDword(const std::string& name, std::uint32_t value) {
    return writeLine(name, name + "=" + std::string(kDwordTag) + std::to_string(value));
}

bool FileSettingsStore::writeString(const std::string& name, const std::string& value) {
    return writeLine(name, name + "=" + std::string(kStringTag) + encodeSettingText(value));
}

std::optional<std::uint32_t> FileSettingsStore::readDword(const std::string& name) {
    const auto value = findValue(filePath(), name);
    if (!value || !value->isDword) {
        return std::nullopt;
    }
    return value->dword;
}

std::optional<std::string> FileSettingsStore::readString(const std::string& name) {
    auto value = findValue(filePath(), name);
    if (!value || value->isDword) {
        return std::nullopt;
    }
    return std::move(value->text);
}

bool FileSettingsStore::writeLine(const std::string& name, const std::string& line) {
    lastError_.clear();
    if (!validName(name)) {
        lastError_ = "Invalid value name";
        return false;
    }
    if (!ensureFolder(folder_, lastError_)) {
        return false;
    }
    const FolderLock lock(folder_);
    std::string content;
    int error = 0;
    if (!readWholeFile(filePath(), content, error)) {
        // Rewriting a file we cannot read would throw away every other value in it.
        if (error != ENOENT) {
            lastError_ = std::strerror(error);
            return false;
        }
        content.clear();
    }
    std::string updated;
    updated.reserve(content.size() + line.size() + kFileHeader.size() + 1);
    if (content.empty()) {
        updated += kFileHeader;
    }
    bool placed = false;
    for (const std::string_view existing : splitLines(content)) {
        const auto existingName = lineName(existing);
        if (existingName && sameName(*existingName, name)) {
            if (!placed) {
                updated += line;
                updated += '\n';
                placed = true;
            }
            continue;
        }
        updated += existing;
        updated += '\n';
    }
    if (!placed) {
        updated += line;
        updated += '\n';
    }
    return writeFileAtomically(filePath(), updated, 0600, &lastError_);
}
