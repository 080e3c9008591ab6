#include "profiles/PersistentRecord.h"

#include <sstream>

double fileFormatVersion = CurrentFormatVersion;

int readToDelimiter(std::istream& in, std::string& buffer, std::string_view delimiter,
                    std::size_t maxLength) {
    buffer.clear();
    std::string read;
    const std::size_t want = delimiter.size();
    auto endsWithDelimiter = [&] {
        return read.size() >= want &&
               std::string_view(read).substr(read.size() - want) == delimiter;
    };
    while (read.size() < want || !endsWithDelimiter()) {
        if (read.size() >= maxLength) {
            buffer = read;
            return kReadMaxLength;
        }
        const int c = in.get();
        if (c == std::char_traits<char>::eof()) {
            buffer = read;
            return kReadFailed;
        }
        read.push_back(static_cast<char>(c));
    }
    buffer = read.substr(0, read.size() - want);
    return kReadFoundDelimiter;
}

void removeWhitespace(std::string& text) {
    std::erase_if(text, [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
    });
}

bool readKey(std::istream& in, std::string& key) {
    // A run of 1023 characters without "=" still counts as a (necessarily unknown) key.
    if (readToDelimiter(in, key, "=", 1023) == kReadFailed) {
        return false;
    }
    removeWhitespace(key);
    return true;
}

bool readLineValue(std::istream& in, std::string& value) {
    if (!std::getline(in, value)) {
        return false;
    }
    if (!value.empty() && value.back() == '\r') {
        value.pop_back();
    }
    return true;
}

std::string formatVersion(double version) {
    std::ostringstream out;
    out << version;
    return out.str();
}

FileKind fileKind(std::string_view path) {
    const auto slash = path.find_last_of('/');
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = last.rfind('.');
    if (dot == std::string_view::npos) {
        return FileKind::None;
    }
    const std::string_view extension = last.substr(dot + 1);
    if (extension == "kvp") {
        return FileKind::Profile;
    }
    if (extension == "kvb") {
        return FileKind::Batch;
    }
    return FileKind::None;
}
