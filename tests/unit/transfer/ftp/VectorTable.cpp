#include "VectorTable.h"

#include <fstream>

namespace vectors {

namespace {

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? tab : tab - start));
        if (tab == std::string::npos) {
            return fields;
        }
        start = tab + 1;
    }
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

std::vector<Row> readTable(const std::string& fileName) {
    std::ifstream in(std::string(KELVANE_TEST_DATA) + "/listing-vectors/" + fileName,
                     std::ios::binary);
    std::vector<Row> rows;
    std::string line;
    std::vector<std::string> header;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        std::vector<std::string> fields = splitTabs(line);
        if (header.empty()) {
            header = std::move(fields);
            continue;
        }
        Row row;
        for (std::size_t i = 0; i < header.size() && i < fields.size(); ++i) {
            row[header[i]] = fields[i];
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

std::string unescape(std::string_view text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 >= text.size()) {
            result.push_back(text[i]);
            continue;
        }
        const char next = text[++i];
        switch (next) {
            case '\\':
                result.push_back('\\');
                break;
            case 't':
                result.push_back('\t');
                break;
            case 'r':
                result.push_back('\r');
                break;
            case 'n':
                result.push_back('\n');
                break;
            case 'x':
                if (i + 2 < text.size() && hexValue(text[i + 1]) >= 0 &&
                    hexValue(text[i + 2]) >= 0) {
                    result.push_back(
                        static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
                    i += 2;
                    break;
                }
                [[fallthrough]];
            default:
                result.push_back('\\');
                result.push_back(next);
        }
    }
    return result;
}

const std::string& column(const Row& row, std::string_view name) {
    static const std::string kEmpty;
    const auto found = row.find(name);
    return found == row.end() ? kEmpty : found->second;
}

}  // namespace vectors
