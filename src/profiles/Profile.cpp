#include "profiles/Profile.h"

#include <limits>

#include "profiles/AtomicFile.h"

namespace {

// A bool is stored as the number 0 or 1; anything else is a damaged file and fails the stream
// like any other unreadable value. The member keeps its value unless the number was good.
void readBool(std::istream& in, bool& member) {
    long value = 0;
    if (!(in >> value)) {
        return;
    }
    if (value == 0 || value == 1) {
        member = value == 1;
    } else {
        in.setstate(std::ios::failbit);
    }
}

void readInt(std::istream& in, std::int32_t& member) {
    std::int32_t value = 0;
    if (in >> value) {
        member = value;
    }
}

void readString(std::istream& in, std::string& member) {
    std::string value;
    if (readLineValue(in, value)) {
        member = std::move(value);
    }
}

void writeLine(std::ostream& out, std::string_view key, std::string_view value) {
    out << key << '=' << value << kLineEnd;
}

void writeBool(std::ostream& out, std::string_view key, bool value) {
    writeLine(out, key, std::string_view(value ? "1" : "0"));
}

void writeNumber(std::ostream& out, std::string_view key, std::int32_t value) {
    writeLine(out, key, std::to_string(value));
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Reads a run of digits at `pos`; a missing run is 0. `overflow` is set for a run too long to
// be any meaningful time.
unsigned long long readDigits(std::string_view word, std::size_t& pos, bool& overflow) {
    unsigned long long value = 0;
    while (pos < word.size() && isDigit(word[pos])) {
        if (value > std::numeric_limits<unsigned long long>::max() / 100) {
            overflow = true;
        } else {
            value = value * 10 + static_cast<unsigned>(word[pos] - '0');
        }
        ++pos;
    }
    return value;
}

int inRange(unsigned long long value, unsigned long long highest) {
    return value <= highest ? static_cast<int>(value) : 0;
}

}  // namespace

AdjustTime parseAdjustTime(std::string_view word) {
    std::size_t pos = 0;
    while (pos < word.size() && (word[pos] == ' ' || word[pos] == '\t')) {
        ++pos;
    }
    bool overflow = false;
    const std::size_t digitsStart = pos;
    const unsigned long long first = readDigits(word, pos, overflow);
    unsigned long long hours = 0;
    unsigned long long minutes = 0;
    if (pos == word.size() && pos > digitsStart) {
        const std::size_t length = word.size();
        if (length >= 5) {
            hours = first / 10000;
            minutes = first / 100 % 100;
        } else if (length >= 3) {
            hours = first / 100;
            minutes = first % 100;
        } else {
            hours = first;
        }
    } else {
        hours = first;
        if (pos < word.size() && word[pos] == ':') {
            ++pos;
        }
        minutes = readDigits(word, pos, overflow);
        // The seconds that may follow are of no use for a clock correction.
    }
    if (overflow) {
        return {};
    }
    return {inRange(hours, 23), inRange(minutes, 59)};
}

void Profile::reset() {
    modified = false;
    delete_files = true;
    confirm_deletes = false;
    add_files = true;
    check_sub_folders = true;
    check_actions = true;
    compare_on_time = true;
    silent_mode = false;
    exit_on_completion = false;
    location1.clear();
    location2.clear();
    exclusions.clear();
    adjust_time_hours = 0;
    adjust_time_mins = 0;
    auto_start = 0;
    log_file_path.clear();
    log_file_on = false;
    log_file_append = false;
    ftp_exclusions.clear();
}

std::ostream& Profile::write(std::ostream& out) {
    writeLine(out, "kelvane_version", formatVersion(CurrentFormatVersion));
    writeLine(out, "location1", location1);
    writeLine(out, "location2", location2);
    writeBool(out, "delete_files", delete_files);
    writeBool(out, "confirm_deletes", confirm_deletes);
    writeBool(out, "add_files", add_files);
    writeBool(out, "check_sub_folders", check_sub_folders);
    writeNumber(out, "auto_start", auto_start);
    writeBool(out, "check_actions", check_actions);
    writeBool(out, "silent_mode", silent_mode);
    writeBool(out, "exit_on_completion", exit_on_completion);
    writeBool(out, "compare_on_time", compare_on_time);
    writeNumber(out, "adjust_time_hours", adjust_time_hours);
    writeNumber(out, "adjust_time_mins", adjust_time_mins);
    writeBool(out, "log_file_on", log_file_on);
    writeBool(out, "log_file_append", log_file_append);
    writeLine(out, "log_file_path", log_file_path);
    out << "exclusions=";
    exclusions.write(out);
    out << "ftp_exclusions=";
    ftp_exclusions.write(out);
    out.flush();
    modified = false;
    return out;
}

std::istream& Profile::read(std::istream& in) {
    reset();
    valid = false;
    std::string key;
    while (readKey(in, key)) {
        if (key == "kelvane_version") {
            double version = 0;
            if (in >> version) {
                fileFormatVersion = version;
                valid = true;
            }
        } else if (key == "location1") {
            readString(in, location1);
        } else if (key == "location2") {
            readString(in, location2);
        } else if (key == "log_file_path") {
            readString(in, log_file_path);
        } else if (key == "delete_files") {
            readBool(in, delete_files);
        } else if (key == "confirm_deletes") {
            readBool(in, confirm_deletes);
        } else if (key == "add_files") {
            readBool(in, add_files);
        } else if (key == "check_sub_folders") {
            readBool(in, check_sub_folders);
        } else if (key == "check_actions") {
            readBool(in, check_actions);
        } else if (key == "silent_mode") {
            readBool(in, silent_mode);
        } else if (key == "exit_on_completion") {
            readBool(in, exit_on_completion);
        } else if (key == "log_file_on") {
            readBool(in, log_file_on);
        } else if (key == "log_file_append") {
            readBool(in, log_file_append);
        } else if (key == "compare_on_time") {
            readBool(in, compare_on_time);
        } else if (key == "adjust_time_hours") {
            readInt(in, adjust_time_hours);
        } else if (key == "adjust_time_mins") {
            readInt(in, adjust_time_mins);
        } else if (key == "auto_start") {
            readInt(in, auto_start);
        } else if (key == "exclusions" || key == "ftp_exclusions") {
            // A file cut off inside a block holds only part of what must be left alone: run
            // with it and the excluded files would be uploaded, or deleted on the server.
            ExclusionSet& set = key == "exclusions" ? exclusions : ftp_exclusions;
            set.read(in);
            if (!set.readWasComplete()) {
                valid = false;
            }
        } else if (key == "adjust_time") {
            std::string word;
            if (in >> word) {
                const AdjustTime time = parseAdjustTime(word);
                adjust_time_hours = time.hours;
                adjust_time_mins = time.minutes;
            }
        } else {
            // Keys of later versions are passed over with their value.
            in.ignore(256, '\n');
        }
        if (!valid) {
            break;
        }
    }
    if (!valid) {
        reset();
    }
    return in;
}

bool Profile::loadFromFile(const std::filesystem::path& path) {
    return loadRecordFromFile(*this, path);
}

bool Profile::saveToFile(const std::filesystem::path& path, std::string* error) {
    return saveEditedRecord(*this, path, error);
}
