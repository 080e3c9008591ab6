#pragma once

#include <string>
#include <string_view>

#include "common/FileEntry.h"

namespace ftp {
struct ListingEntry;
}

// The text that names a place on a server: "FTP:" + connection name + "/" + server path.
// Profiles, the main window and the browse dialogs store places this way, so the prefix is
// compared exactly (upper case) and a connection name never contains "/".
inline constexpr std::string_view kFtpLocationPrefix = "FTP:";

bool isFtpLocation(std::string_view text);
// "FTP:" + name, then "/" unless the path already starts with one, then the path.
std::string makeFtpLocation(std::string_view name, std::string_view path);
// Splits a location at its first "/": the name before it, the path from it on ("FTP:Site/"
// gives "Site" and "/"). Without the prefix or a "/" both come back empty and the result is
// false.
bool parseFtpLocation(std::string_view text, std::string& name, std::string& path);

// The rules that keep the connection's idea of the server's folders consistent. Directories
// are kept with a trailing "/"; the home directory is the top of the server's tree.

// The top of the tree a login directory belongs to: the drive of a Windows server
// ("C:/web/" gives "C:/"), otherwise "/".
std::string ftpRootOf(std::string_view loginDirectory);

// A directory as the server reported it, made comparable with the paths the program already
// holds: a trailing "/" added, and a home prefix that differs only in letter case (a drive
// letter written "c:" after login showed "C:") written the way the home directory is.
std::string normaliseReportedDirectory(std::string_view reply, std::string_view homeDirectory);

// What changing to `path` sends and what the current directory must then be: "" and "/" mean
// the home directory; otherwise one trailing "/" is dropped from what is sent and every
// directory but the home directory is compared with a trailing "/".
struct DirectoryChange {
    std::string sent;
    std::string expected;
};
DirectoryChange directoryChangeFor(std::string_view path, std::string_view homeDirectory);

// True for a path that names one place only: it starts with "/" and holds no empty, "." or ".."
// component. A server that accepts a change to such a path is where the path says, so its
// current directory is known without asking.
bool isPlainAbsolutePath(std::string_view path);

// The folder above `directory`: "/a/b/c/" gives "/a/b/"; a root ("/", "C:/") stays itself.
std::string parentFtpDirectory(std::string_view directory);

// The entry of a server directory as a folder of the FTP side: "/a/b/" is folder "/a/" with
// name "b", "/" is the root with an empty name. Size, date and time are zero.
FileEntry ftpFolderEntry(std::string_view directory);

// One listed item as an entry of `folder` (which ends with "/"): the name as listed, the time
// as the client gave it in local calendar time, a folder only for a directory (a symbolic link
// counts as a file), the full 64-bit size.
FileEntryPtr fileEntryFromListing(const ftp::ListingEntry& item, const std::string& folder);
