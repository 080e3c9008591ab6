// The file and folder operations of a live FTP connection. Each is one timed command with the
// attempt loop; the listing cache always describes the current directory, so every command
// that may change the server's tree or the current directory empties it first.

#include <algorithm>
#include <atomic>
#include <memory>
#include <utility>

#include "common/ErrorReport.h"
#include "transfer/CommandState.h"
#include "transfer/ConnectionDetails.h"
#include "transfer/FtpLocation.h"
#include "transfer/TimedCommand.h"
#include "transfer/UnfinishedUploads.h"
#include "transfer/ftp/FtpConnection.h"

bool ConnectionDetails::listDirectory(std::vector<FileEntryPtr>& entries, bool refresh) {
    // An empty cache may be a folder that was empty or one never listed: ask again.
    if (!listingCache.empty() && !refresh) {
        entries = listingCache;
        return true;
    }
    if (!knowCurrentDirectory()) {
        return false;
    }
    // Whatever comes of this listing, the old one is no longer to be trusted.
    listingCache.clear();
    if (!runListing(currentDirectory, entries)) {
        return false;
    }
    listingCache = entries;
    return true;
}

namespace {

// Some servers refuse the listing of a missing folder with another permanent reply than 550
// (pyftpdlib: "501 No such directory."); asking for the path itself tells that apart from a
// refusal of the listing command.
bool folderIsMissing(ftp::FtpConnection& connection, const std::string& folder) {
    ftp::PathKind kind = ftp::PathKind::Missing;
    return connection.exists(folder, kind).ok() && kind == ftp::PathKind::Missing;
}

}  // namespace

bool ConnectionDetails::listFolderAt(const std::string& folder,
                                     std::vector<FileEntryPtr>& entries) {
    waitForCommand(0);
    entries.clear();
    return runListing(folder, entries);
}

bool ConnectionDetails::runListing(const std::string& folder, std::vector<FileEntryPtr>& entries) {
    const std::vector<FileEntryPtr> given = entries;
    // Told by the attempt that ended last; an attempt still in flight when the wait gave up
    // (time-out, Stop) has said nothing yet.
    auto noFolder = std::make_shared<std::atomic<bool>>(false);
    listingFoundNoFolder_ = false;
    std::shared_ptr<TimedCommand> command;
    const bool succeeded = runInStep([&] {
        command = newFtpCommand();
        if (!command) {
            return false;
        }
        command->directory = folder;
        return runExchange(
            command,
            [given, noFolder](ftp::FtpConnection& connection, TimedCommand& record) {
                noFolder->store(false);
                std::vector<ftp::ListingEntry> items;
                touchConnectionActivity();
                // A long listing restarts the command clock as data arrives, so the limit bounds
                // the silence rather than the size of the folder; Stop ends it at the next chunk.
                const ftp::FtpResult result =
                    connection.list(record.directory, items, [](std::uint64_t) {
                        touchConnectionActivity();
                        touchCommandClock();
                        return !commandShouldEnd();
                    });
                touchConnectionActivity();
                noFolder->store(result.error == ftp::FtpError::NotFound ||
                                (result.error == ftp::FtpError::Fatal &&
                                 folderIsMissing(connection, record.directory)));
                if (result.error == ftp::FtpError::Cancelled) {
                    stopAttempts();
                }
                if (!result) {
                    return result;
                }
                // Each attempt starts again from what the caller passed.
                record.entries = given;
                record.entries.reserve(given.size() + items.size());
                for (const ftp::ListingEntry& item : items) {
                    record.entries.push_back(fileEntryFromListing(item, record.directory));
                }
                touchCommandClock();
                return result;
            },
            FtpCommandKind::Listing);
    });
    if (!succeeded) {
        listingFoundNoFolder_ = noFolder->load();
        return false;
    }
    std::stable_sort(command->entries.begin(), command->entries.end(), EntryNameOrder{});
    entries = command->entries;
    return true;
}

bool ConnectionDetails::pathExists(const std::string& path) {
    if (!path.empty() && path.back() == '/') {
        return changeDirectory(path);
    }
    return runInStep([&] {
        auto command = newChangingCommand();
        if (!command) {
            return false;
        }
        command->firstPath = path;
        // A missing path is a failed attempt without a reason: the loop asks again, in case the
        // server had not caught up with an upload yet, and the caller decides what missing
        // means.
        return runFtpCommand(
            command, FtpCommandKind::Other,
            [](TimedCommand& record) {
                ftp::PathKind kind = ftp::PathKind::Missing;
                const ftp::FtpResult result = record.ftp->exists(record.firstPath, kind);
                if (!result) {
                    setLastError(result.text);
                    stopAttemptsWhenHopeless(result);
                    return false;
                }
                return kind != ftp::PathKind::Missing;
            },
            commandLimitSeconds());
    });
}

std::shared_ptr<TimedCommand> ConnectionDetails::newChangingCommand() {
    waitForCommand(0);
    listingCache.clear();
    return newFtpCommand();
}

bool ConnectionDetails::runChangingExchange(const std::function<void(TimedCommand&)>& fill,
                                            const Exchange& exchange) {
    return runInStep([&] {
        auto command = newChangingCommand();
        if (!command) {
            return false;
        }
        fill(*command);
        return runExchange(command, exchange);
    });
}

bool ConnectionDetails::createDirectory(const std::string& path) {
    return runChangingExchange(
        [&path](TimedCommand& record) {
            record.directory = path;
            if (!record.directory.empty() && record.directory.back() == '/') {
                record.directory.pop_back();
            }
        },
        [](ftp::FtpConnection& connection, TimedCommand& record) {
            return connection.makeDirectory(record.directory);
        });
}

bool ConnectionDetails::removeDirectory(const std::string& path) {
    return runChangingExchange([&path](TimedCommand& record) { record.directory = path; },
                               [](ftp::FtpConnection& connection, TimedCommand& record) {
                                   return connection.removeDirectory(record.directory);
                               });
}

bool ConnectionDetails::deleteFile(const std::string& path) {
    const bool deleted =
        runChangingExchange([&path](TimedCommand& record) { record.firstPath = path; },
                            [](ftp::FtpConnection& connection, TimedCommand& record) {
                                return connection.deleteFile(record.firstPath);
                            });
    // A file that is gone is no longer a part of one.
    if (UnfinishedUploads* unfinished = unfinishedUploads(); deleted && unfinished != nullptr) {
        unfinished->finish(*this, path);
    }
    return deleted;
}

bool ConnectionDetails::renameFile(const std::string& existingPath, const std::string& newPath) {
    return runChangingExchange(
        [&](TimedCommand& record) {
            record.firstPath = existingPath;
            record.secondPath = newPath;
        },
        [](ftp::FtpConnection& connection, TimedCommand& record) {
            return connection.rename(record.firstPath, record.secondPath);
        });
}
