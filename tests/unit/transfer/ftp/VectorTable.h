#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

// Reader of the recorded listing and reply tables under tests/data/listing-vectors: UTF-8,
// tab-separated, one header row, no quoting; some columns escape \\ \t \r \n and \xNN.
namespace vectors {

using Row = std::map<std::string, std::string, std::less<>>;

// The rows of tests/data/listing-vectors/<fileName>, keyed by the header's column names, values
// as written (still escaped). A file that cannot be read gives no rows.
std::vector<Row> readTable(const std::string& fileName);

// Undoes the escapes of the line, name, link_target, raw, text and rest columns.
std::string unescape(std::string_view text);

// The column's value, empty when the row has no such column.
const std::string& column(const Row& row, std::string_view name);

}  // namespace vectors
