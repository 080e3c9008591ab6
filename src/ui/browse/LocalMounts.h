#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// What stands in for the drives and the network places of the folder tree: the mount table of
// the process (/proc/self/mounts). "/" and the home folder are the first two drives; other
// local mounts follow by their type, and mounted network file systems are the shares of the
// servers under the tree's network item. Everything here works on the table's text alone, so
// it is the same on every machine that reads the same text.

// One line of the table, its octal escapes ("\040" for a blank) undone.
struct MountEntry {
    std::string source;
    std::string mountPoint;
    std::string type;
};

std::vector<MountEntry> parseMounts(std::string_view text);

// The drive types of the tree, as bits of its hidden-drive-types set.
enum DriveType : std::uint32_t {
    kDriveRemovable = 0x1,
    kDriveFixed = 0x2,
    kDriveRemote = 0x4,
    kDriveCdRom = 0x10,
    kDriveRamDisk = 0x20,
};

struct LocalDrive {
    std::string path;
    std::string label;
    DriveType type = kDriveFixed;
};

// True for the types of the network file systems (cifs, nfs, sshfs ...).
bool isNetworkMount(const MountEntry& mount);

// "/" ("File System"), the home folder ("Home") and every other local mount a person browses:
// not the kernel's own file systems, not what lies under /proc, /sys, /dev, /run (removable
// media under /run/media excepted), /boot, /snap and /var/lib, and no network file system. A
// mount point mounted twice counts once, with the type of the last (the one on top).
std::vector<LocalDrive> localDrives(const std::vector<MountEntry>& mounts, const std::string& home);

// A mounted network file system as the tree shows it: under its server, by the last part of
// the exported path.
struct NetworkShare {
    std::string server;
    std::string label;
    std::string mountPoint;
    std::string type;
};

// In the order of their servers' names, then of their labels.
std::vector<NetworkShare> networkShares(const std::vector<MountEntry>& mounts);
