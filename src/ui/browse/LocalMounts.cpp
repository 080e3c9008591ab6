#include "ui/browse/LocalMounts.h"

#include <algorithm>
#include <array>
#include <map>
#include <tuple>

namespace {

// The kernel writes blank, tab, line feed and backslash in a field as three octal digits.
std::string unescapeField(std::string_view field) {
    std::string text;
    text.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char c = field[i];
        const auto octal = [](char d) { return d >= '0' && d <= '7'; };
        if (c == '\\' && i + 3 < field.size() && octal(field[i + 1]) && octal(field[i + 2]) &&
            octal(field[i + 3])) {
            text.push_back(static_cast<char>(((field[i + 1] - '0') << 6) |
                                             ((field[i + 2] - '0') << 3) | (field[i + 3] - '0')));
            i += 3;
            continue;
        }
        text.push_back(c);
    }
    return text;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// `path` is `folder` or lies below it.
bool isWithin(std::string_view path, std::string_view folder) {
    if (folder == "/") {
        return true;
    }
    return startsWith(path, folder) && (path.size() == folder.size() || path[folder.size()] == '/');
}

constexpr std::array kNetworkTypes = {
    std::string_view("cifs"),
    std::string_view("smb3"),
    std::string_view("smbfs"),
    std::string_view("nfs"),
    std::string_view("nfs4"),
    std::string_view("ncpfs"),
    std::string_view("afs"),
    std::string_view("ceph"),
    std::string_view("glusterfs"),
    std::string_view("lustre"),
    std::string_view("davfs"),
    std::string_view("sshfs"),
    std::string_view("fuse.sshfs"),
    std::string_view("fuse.rclone"),
    std::string_view("fuse.s3fs"),
    std::string_view("fuse.curlftpfs"),
    std::string_view("fuse.glusterfs"),
    std::string_view("fuse.davfs2"),
};

// The kernel's own file systems, and those of sandboxes and packages, which hold nothing a
// person keeps a site in.
constexpr std::array kSystemTypes = {
    std::string_view("proc"),
    std::string_view("sysfs"),
    std::string_view("devtmpfs"),
    std::string_view("devpts"),
    std::string_view("cgroup"),
    std::string_view("cgroup2"),
    std::string_view("securityfs"),
    std::string_view("debugfs"),
    std::string_view("tracefs"),
    std::string_view("pstore"),
    std::string_view("bpf"),
    std::string_view("mqueue"),
    std::string_view("hugetlbfs"),
    std::string_view("configfs"),
    std::string_view("fusectl"),
    std::string_view("autofs"),
    std::string_view("binfmt_misc"),
    std::string_view("nsfs"),
    std::string_view("efivarfs"),
    std::string_view("rpc_pipefs"),
    std::string_view("selinuxfs"),
    std::string_view("squashfs"),
    std::string_view("fuse.gvfsd-fuse"),
    std::string_view("fuse.portal"),
    std::string_view("fuse.lxcfs"),
    std::string_view("fuse.snapfuse"),
};

constexpr std::array kSystemFolders = {
    std::string_view("/proc"), std::string_view("/sys"),     std::string_view("/dev"),
    std::string_view("/run"),  std::string_view("/boot"),    std::string_view("/efi"),
    std::string_view("/snap"), std::string_view("/var/lib"), std::string_view("/var/snap"),
};

template <std::size_t N>
bool isOneOf(std::string_view text, const std::array<std::string_view, N>& set) {
    return std::find(set.begin(), set.end(), text) != set.end();
}

bool isSystemMount(const MountEntry& mount) {
    if (isOneOf(mount.type, kSystemTypes)) {
        return true;
    }
    if (isWithin(mount.mountPoint, "/run/media")) {
        return false;
    }
    return std::any_of(kSystemFolders.begin(), kSystemFolders.end(),
                       [&](std::string_view folder) { return isWithin(mount.mountPoint, folder); });
}

DriveType driveTypeOf(const MountEntry& mount) {
    if (isNetworkMount(mount)) {
        return kDriveRemote;
    }
    if (mount.type == "iso9660" || mount.type == "udf") {
        return kDriveCdRom;
    }
    if (mount.type == "tmpfs" || mount.type == "ramfs") {
        return kDriveRamDisk;
    }
    // Where udisks mounts what is plugged in.
    if (isWithin(mount.mountPoint, "/media") || isWithin(mount.mountPoint, "/run/media")) {
        return kDriveRemovable;
    }
    return kDriveFixed;
}

std::string lastPart(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') {
        path.remove_suffix(1);
    }
    const std::size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The last mount of each mount point, in the order of their first appearance.
std::vector<MountEntry> topMounts(const std::vector<MountEntry>& mounts) {
    std::vector<MountEntry> top;
    for (MountEntry mount : mounts) {
        mount.mountPoint = withoutTrailingSlashes(std::move(mount.mountPoint));
        const auto same = std::find_if(top.begin(), top.end(), [&](const MountEntry& held) {
            return held.mountPoint == mount.mountPoint;
        });
        if (same == top.end()) {
            top.push_back(mount);
        } else {
            *same = mount;
        }
    }
    return top;
}

// The server and the exported path of a network mount's source: "//server/share" (SMB),
// "server:/path" and "user@server:path" (NFS, sshfs), "[address]:/path", "https://server/path"
// (WebDAV).
std::pair<std::string, std::string> serverAndShare(std::string_view source) {
    if (startsWith(source, "//")) {
        source.remove_prefix(2);
        const std::size_t slash = source.find('/');
        return {std::string(source.substr(0, slash)), slash == std::string_view::npos
                                                          ? std::string()
                                                          : std::string(source.substr(slash))};
    }
    const std::size_t scheme = source.find("://");
    if (scheme != std::string_view::npos) {
        source.remove_prefix(scheme + 3);
        const std::size_t slash = source.find('/');
        return {std::string(source.substr(0, slash)), slash == std::string_view::npos
                                                          ? std::string()
                                                          : std::string(source.substr(slash))};
    }
    if (startsWith(source, "[")) {
        const std::size_t close = source.find("]");
        if (close != std::string_view::npos) {
            std::string_view rest = source.substr(close + 1);
            if (startsWith(rest, ":")) {
                rest.remove_prefix(1);
            }
            return {std::string(source.substr(1, close - 1)), std::string(rest)};
        }
    }
    const std::size_t colon = source.find(':');
    if (colon == std::string_view::npos) {
        return {std::string(source), std::string()};
    }
    std::string_view server = source.substr(0, colon);
    const std::size_t at = server.rfind('@');
    if (at != std::string_view::npos) {
        server.remove_prefix(at + 1);
    }
    return {std::string(server), std::string(source.substr(colon + 1))};
}

}  // namespace

std::vector<MountEntry> parseMounts(std::string_view text) {
    std::vector<MountEntry> mounts;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        std::array<std::string_view, 3> fields;
        std::size_t count = 0;
        while (count < fields.size()) {
            const std::size_t start = line.find_first_not_of(" \t");
            if (start == std::string_view::npos) {
                break;
            }
            line.remove_prefix(start);
            const std::size_t stop = line.find_first_of(" \t");
            fields[count++] = line.substr(0, stop);
            line.remove_prefix(stop == std::string_view::npos ? line.size() : stop);
        }
        if (count == fields.size()) {
            mounts.push_back(
                {unescapeField(fields[0]), unescapeField(fields[1]), unescapeField(fields[2])});
        }
    }
    return mounts;
}

bool isNetworkMount(const MountEntry& mount) {
    if (isOneOf(mount.type, kNetworkTypes)) {
        return true;
    }
    // davfs2 mounts as plain "fuse" with the server's address as the source.
    return (mount.type == "fuse" || startsWith(mount.type, "fuse.")) &&
           (startsWith(mount.source, "http://") || startsWith(mount.source, "https://"));
}

std::vector<LocalDrive> localDrives(const std::vector<MountEntry>& mounts,
                                    const std::string& home) {
    const std::vector<MountEntry> top = topMounts(mounts);
    const std::string homePath = withoutTrailingSlashes(home);
    // The root and the home folder take the type of the mount that holds them.
    const auto typeHolding = [&top](const std::string& path) {
        const MountEntry* holder = nullptr;
        for (const MountEntry& mount : top) {
            if (isWithin(path, mount.mountPoint) &&
                (holder == nullptr || mount.mountPoint.size() > holder->mountPoint.size())) {
                holder = &mount;
            }
        }
        return holder == nullptr ? kDriveFixed : driveTypeOf(*holder);
    };
    std::vector<LocalDrive> drives;
    drives.push_back({"/", "File System", typeHolding("/")});
    if (!homePath.empty() && homePath != "/") {
        drives.push_back({homePath, "Home", typeHolding(homePath)});
    }
    std::vector<LocalDrive> others;
    for (const MountEntry& mount : top) {
        const std::string point = withoutTrailingSlashes(mount.mountPoint);
        if (point.empty() || point.front() != '/' || point == "/" || point == homePath ||
            isNetworkMount(mount) || isSystemMount(mount)) {
            continue;
        }
        others.push_back({point, lastPart(point), driveTypeOf(mount)});
    }
    std::sort(others.begin(), others.end(),
              [](const LocalDrive& a, const LocalDrive& b) { return a.path < b.path; });
    drives.insert(drives.end(), others.begin(), others.end());
    return drives;
}

std::vector<NetworkShare> networkShares(const std::vector<MountEntry>& mounts) {
    std::vector<NetworkShare> shares;
    for (const MountEntry& mount : topMounts(mounts)) {
        if (!isNetworkMount(mount) || mount.mountPoint.empty() || mount.mountPoint.front() != '/') {
            continue;
        }
        auto [server, exported] = serverAndShare(mount.source);
        std::string label = lastPart(exported);
        if (label.empty()) {
            label = lastPart(mount.mountPoint);
        }
        shares.push_back({std::move(server), std::move(label),
                          withoutTrailingSlashes(mount.mountPoint), mount.type});
    }
    std::sort(shares.begin(), shares.end(), [](const NetworkShare& a, const NetworkShare& b) {
        return std::tie(a.server, a.label, a.mountPoint) <
               std::tie(b.server, b.label, b.mountPoint);
    });
    return shares;
}
