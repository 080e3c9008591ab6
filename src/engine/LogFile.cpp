#include "engine/LogFile.h"

#include <cerrno>
#include <ctime>

#include "profiles/Profile.h"

std::string lastReportHeading;

namespace {

// Fixed English names: the log is read by people comparing runs across machines, so it must
// not change with the locale the program happens to run under.
constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"January",   "February", "March",    "April",
                                   "May",       "June",     "July",     "August",
                                   "September", "October",  "November", "December"};

std::tm localNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return local;
}

std::string twoDigits(int value) {
    std::string text = std::to_string(value);
    return text.size() < 2 ? "0" + text : text;
}

}  // namespace

std::string logDate() {
    const std::tm now = localNow();
    return std::string(kWeekdays[now.tm_wday % 7]) + ' ' + twoDigits(now.tm_mday) + ' ' +
           kMonths[now.tm_mon % 12] + ' ' + std::to_string(now.tm_year + 1900);
}

std::string logTime() {
    const std::tm now = localNow();
    return twoDigits(now.tm_hour) + ':' + twoDigits(now.tm_min) + ':' + twoDigits(now.tm_sec);
}

LogFile& LogFile::instance() {
    // Never destroyed: reportError may still look at the installed log while the program exits.
    static LogFile& log = *new LogFile;
    return log;
}

bool LogFile::open(const std::string& path, bool append) {
    close();
    stream_.open(path, std::ios::out | (append ? std::ios::app : std::ios::trunc));
    if (!stream_.is_open()) {
        // The reason is taken at once, before anything else can change errno.
        const int code = errno;
        stream_.clear();
        setLastErrorFromCode(code);
        errno = code;
        return false;
    }
    ErrorLog* previous = setErrorLog(this);
    replacedLog_ = previous == this ? nullptr : previous;
    write("\n\n" + std::string(50, '=') + "\n" + std::string(50, '=') +
          "\n\nSynchronisation started at:\n" + logDate() + " " + logTime() + "\n");
    return true;
}

bool LogFile::isOpen() const {
    return stream_.is_open() && stream_.good();
}

void LogFile::close() {
    if (stream_.is_open()) {
        stream_.close();
    }
    stream_.clear();
    handBackErrorLog();
    replacedLog_ = nullptr;
}

void LogFile::handBackErrorLog() {
    // Only our own installation is taken back; another log may have been installed since.
    ErrorLog* current = setErrorLog(replacedLog_);
    if (current != this) {
        setErrorLog(current);
    }
}

void LogFile::noteWriteFailure() {
    // reportError skips a log that is not open, so the replaced log gets its lines directly
    // again instead of losing them with ours.
    if (!stream_.good()) {
        handBackErrorLog();
    }
}

void LogFile::writeLine(const std::string& line) {
    write(line);
    write('\n');
    if (replacedLog_ != nullptr && replacedLog_->isOpen()) {
        replacedLog_->writeLine(line);
    }
}

void LogFile::write(const std::string& text) {
    if (isOpen()) {
        stream_ << text;
        noteWriteFailure();
    }
}

void LogFile::write(char c) {
    if (isOpen()) {
        stream_ << c;
        noteWriteFailure();
    }
}

void LogFile::write(long long number) {
    write(std::to_string(number));
}

void LogFile::writeFlag(bool on) {
    write(std::string(on ? "on" : "off"));
}

void LogFile::writeHeading(const std::string& text) {
    write("\n" + std::string(30, '-') + "\n\n");
    if (!text.empty()) {
        write(text + "\n\n");
    }
}

void LogFile::writeBoxedTitle(const std::string& title) {
    const std::string row(20, '+');
    write(row + "\n" + title + "\n" + row + "\n");
}

void LogFile::writeOptions(const Profile& profile) {
    const auto flagLine = [this](const char* label, bool value) {
        write(std::string(label));
        writeFlag(value);
        write('\n');
    };
    flagLine("Delete files: ", profile.delete_files);
    flagLine("Add files: ", profile.add_files);
    flagLine("Confirm deletes: ", profile.confirm_deletes);
    flagLine("Check actions: ", profile.check_actions);
    flagLine("Check sub-folders: ", profile.check_sub_folders);
    flagLine("Exit on completion: ", profile.exit_on_completion);
    flagLine("Silent mode: ", profile.silent_mode);

    write(std::string("Auto start: "));
    switch (profile.auto_start) {
        case 0:
            write(std::string("off"));
            break;
        case 1:
            write(std::string("on"));
            break;
        case 2:
            write(std::string("Location 2 to Location 1"));
            break;
        default:
            // Values no version of the program writes have no name; the label stays on its own.
            break;
    }
    write('\n');

    write(std::string("Compare on: ") + (profile.compare_on_time ? "time" : "file size") + "\n");
    write(std::string("Time adjustment: "));
    write(static_cast<long long>(profile.adjust_time_hours));
    write(std::string("Hrs "));
    write(static_cast<long long>(profile.adjust_time_mins));
    write(std::string("Mins\n"));
}

void LogFile::writeProblemLines(const ProblemList& problems) {
    for (const std::string& line : problems) {
        write('\n');
        write(line);
    }
}

void LogFile::writeEntryLines(const EntrySet& entries) {
    for (const FileEntryPtr& entry : entries) {
        write(entry->fullPath() + "\n");
    }
}

void LogFile::writeRunHeader(const std::string& profilePath, const std::string& source,
                             const std::string& destination, const Profile& profile) {
    writeHeading("");
    write("Profile: " + profilePath + "\n");
    write("Source: " + source + "\n");
    write("Dest: " + destination + "\n");
    writeHeading("Options");
    writeOptions(profile);
    write('\n');
    writeHeading("Errors");
}

void LogFile::writeResults(const ActionLists& lists, const ProblemList& problems) {
    if (!isOpen()) {
        return;
    }
    writeHeading("Synchronisation completed at:");
    write(logDate() + " " + logTime() + "\n\n");
    write(std::string("Results Summary:\n"));
    const auto countLine = [this](std::uint32_t count, const char* label) {
        write(static_cast<long long>(count));
        write(std::string(label));
    };
    countLine(lists.overwrittenCount, "\toverwritten files\n");
    countLine(lists.addedFilesCount, "\tadded files\n");
    countLine(lists.deletedFilesCount, "\tdeleted files\n");
    countLine(lists.addedFoldersCount, "\tadded folders\n");
    countLine(lists.deletedFoldersCount, "\tdeleted folders\n");

    writeHeading("Problems:");
    writeProblemLines(problems);
    writeHeading("Results Details:");

    const std::pair<const char*, const EntrySet*> sections[] = {
        {"Overwritten Files", &lists.overwrittenFiles},
        {"Added Files", &lists.addedFiles},
        {"Deleted Files", &lists.deletedFiles},
        {"Added Folders", &lists.addedFolders},
        {"Deleted Folders", &lists.deletedFolders},
        {"Failed Overwritten Files", &lists.failedOverwrittenFiles},
        {"Failed Added Files", &lists.failedAddedFiles},
        {"Failed Deleted Files", &lists.failedDeletedFiles},
        {"Failed Added Folders", &lists.failedAddedFolders},
        {"Failed Deleted Folders", &lists.failedDeletedFolders},
    };
    for (const auto& [title, entries] : sections) {
        if (!entries->empty()) {
            writeBoxedTitle(title);
            writeEntryLines(*entries);
        }
    }
}
