#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

// Base of every record kept in a keyed text file: profiles, exclusion sets, batch lists and
// connection details. Files keep CR LF line ends on every platform so that they move between
// machines unchanged; readers accept CR LF and a lone LF alike.
class PersistentRecord {
  public:
    virtual ~PersistentRecord() = default;
    virtual std::ostream& write(std::ostream& out) = 0;
    virtual std::istream& read(std::istream& in) = 0;
};

// The line end written into every keyed file.
inline constexpr std::string_view kLineEnd = "\r\n";

// The format version this program writes, and the version most recently read from a profile,
// batch or connections file (the exclusion reader depends on it).
inline constexpr double CurrentFormatVersion = 1.06;
extern double fileFormatVersion;

// Results of readToDelimiter.
enum ReadResult : int {
    kReadFailed = 0,         // the stream failed before the delimiter was found
    kReadMaxLength = 1,      // maxLength characters were read without finding it
    kReadFoundDelimiter = 2  // found; the delimiter is consumed and not copied
};

// The shared key reader: reads up to and including `delimiter`, leaving the text before it in
// `buffer`.
int readToDelimiter(std::istream& in, std::string& buffer, std::string_view delimiter,
                    std::size_t maxLength);

// Removes every space, tab, line feed, vertical tab, form feed and carriage return.
void removeWhitespace(std::string& text);

// Reads a key: the text up to "=" with all whitespace removed. False when the stream ended
// before an "="; a text of 1023 characters without "=" is returned as a key.
bool readKey(std::istream& in, std::string& key);

// Reads the rest of the line, consuming the line end; a trailing CR is dropped.
bool readLineValue(std::istream& in, std::string& value);

// Writes a floating-point number in the stream's default format (1.06 gives "1.06").
std::string formatVersion(double version);

enum class FileKind : int { None = 0, Profile = 1, Batch = 2 };

// Classifies a path by the extension of its last component: "kvp" or "kvb", case-sensitive.
FileKind fileKind(std::string_view path);
