// What the folder tree makes of a mount table: the drives of the computer and the shares of the
// network, from recorded /proc/self/mounts lines.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ui/browse/LocalMounts.h"

namespace {

TEST(LocalMountsTest, LinesAreSplitIntoTheirFieldsWithTheEscapesUndone) {
    const auto mounts = parseMounts(
        "/dev/sdb1 /media/anna/USB\\040STICK vfat rw,nosuid 0 0\n"
        "//nas/Team\\134Share /mnt/team cifs rw 0 0\n"
        "short line\n"
        "\n"
        "tmpfs\t/tmp\ttmpfs rw 0 0");
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[0].source, "/dev/sdb1");
    EXPECT_EQ(mounts[0].mountPoint, "/media/anna/USB STICK");
    EXPECT_EQ(mounts[0].type, "vfat");
    EXPECT_EQ(mounts[1].source, "//nas/Team\\Share");
    EXPECT_EQ(mounts[2].mountPoint, "/tmp");
    EXPECT_EQ(mounts[2].type, "tmpfs");
}

TEST(LocalMountsTest, NetworkFileSystemsBecomeSharesUnderTheirServers) {
    struct Case {
        const char* line;
        std::string server;  // empty: not a network share
        std::string label;
    };
    const Case cases[] = {
        {"//fileserver/www /mnt/www cifs rw 0 0", "fileserver", "www"},
        {"//fileserver/public/sites /mnt/sites smb3 rw 0 0", "fileserver", "sites"},
        {"backup.lan:/srv/export/site /net/site nfs4 rw 0 0", "backup.lan", "site"},
        {"backup.lan:/ /net/all nfs rw 0 0", "backup.lan", "all"},
        {"[fd00::7]:/export/www /net/v6 nfs4 rw 0 0", "fd00::7", "www"},
        {"deploy@web1:/var/www/html /home/anna/web1 fuse.sshfs rw 0 0", "web1", "html"},
        {"web2: /home/anna/web2 fuse.sshfs rw 0 0", "web2", "web2"},
        {"https://dav.example.org/remote.php/files /mnt/dav fuse rw 0 0", "dav.example.org",
         "files"},
        {"/dev/sda2 /data ext4 rw 0 0", "", ""},
        {"tmpfs /tmp tmpfs rw 0 0", "", ""},
        {"fuse /mnt/local fuse rw 0 0", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        const auto shares = networkShares(parseMounts(c.line));
        if (c.server.empty()) {
            EXPECT_TRUE(shares.empty());
            continue;
        }
        ASSERT_EQ(shares.size(), 1u);
        EXPECT_EQ(shares[0].server, c.server);
        EXPECT_EQ(shares[0].label, c.label);
    }
}

TEST(LocalMountsTest, SharesAreOrderedByServerAndAMountPointCountsOnceWithItsTopMount) {
    const auto shares =
        networkShares(parseMounts("zeta:/b /net/b nfs rw 0 0\n"
                                  "//alpha/x /net/x cifs rw 0 0\n"
                                  "zeta:/a /net/a nfs rw 0 0\n"
                                  "//alpha/old /net/y cifs rw 0 0\n"
                                  "//alpha/new /net/y/ cifs rw 0 0\n"));
    std::vector<std::string> seen;
    for (const NetworkShare& share : shares) {
        seen.push_back(share.server + " " + share.label + " " + share.mountPoint);
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"alpha new /net/y", "alpha x /net/x", "zeta a /net/a",
                                              "zeta b /net/b"}));
}

TEST(LocalMountsTest, TheDrivesAreRootHomeAndTheLocalMountsByType) {
    const auto drives =
        localDrives(parseMounts("overlay / overlay rw 0 0\n"
                                "proc /proc proc rw 0 0\n"
                                "tmpfs /run tmpfs rw 0 0\n"
                                "tmpfs /run/user/1000 tmpfs rw 0 0\n"
                                "/dev/nvme0n1p1 /boot/efi vfat rw 0 0\n"
                                "/dev/loop3 /snap/core/17 squashfs ro 0 0\n"
                                "/dev/nvme0n1p3 /home ext4 rw 0 0\n"
                                "/dev/sdb1 /run/media/anna/CARD exfat rw 0 0\n"
                                "/dev/sdc1 /media/anna/STICK vfat rw 0 0\n"
                                "/dev/sr0 /media/anna/DVD iso9660 ro 0 0\n"
                                "tmpfs /tmp tmpfs rw 0 0\n"
                                "/dev/sda1 /srv/data xfs rw 0 0\n"
                                "//nas/www /mnt/www cifs rw 0 0\n"
                                "gvfsd-fuse /run/user/1000/gvfs fuse.gvfsd-fuse rw 0 0\n"),
                    "/home/anna/");
    std::vector<std::string> seen;
    for (const LocalDrive& drive : drives) {
        seen.push_back(drive.label + " " + drive.path + " " + std::to_string(drive.type));
    }
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "File System / 2",
                        "Home /home/anna 2",
                        "home /home 2",
                        "DVD /media/anna/DVD 16",
                        "STICK /media/anna/STICK 1",
                        "CARD /run/media/anna/CARD 1",
                        "data /srv/data 2",
                        "tmp /tmp 32",
                    }));
}

TEST(LocalMountsTest, TheHomeFolderTakesTheTypeOfTheMountThatHoldsIt) {
    const auto drives = localDrives(parseMounts("/dev/vda / ext4 rw 0 0\n"
                                                "files:/home /home nfs4 rw 0 0\n"),
                                    "/home/anna");
    ASSERT_EQ(drives.size(), 2u);
    EXPECT_EQ(drives[0].type, kDriveFixed);
    EXPECT_EQ(drives[1].path, "/home/anna");
    EXPECT_EQ(drives[1].type, kDriveRemote);
}

}  // namespace
