// The local side with real content: a temporary home folder with a site in it (hidden files
// and folders included), a mount table written for the pictures (a USB stick, a DVD, a RAM disk
// and three network shares whose mount points are real temporary folders), the folder tree with
// and without files, hidden files shown, the context menu, "Select folder", "Browse Local
// System" with exclusions marked and without an exclusion set, and the properties dialog.

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QVBoxLayout>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "common/Prompter.h"
#include "profiles/ExclusionSet.h"
#include "screenshots/Screenshot.h"
#include "support/RecordingPrompter.h"
#include "support/TempFolder.h"
#include "ui/browse/BrowseLocalDlg.h"
#include "ui/browse/CTreeFileCtrl.h"
#include "ui/browse/FolderDlg.h"
#include "ui/browse/PropertiesDlg.h"
#include "ui/browse/SysFileBrowseCtrl.h"

namespace fs = std::filesystem;

namespace {

void put(const fs::path& path, std::size_t bytes, int daysAgo) {
    fs::create_directories(path.parent_path());
    testsupport::writeFile(path, std::string(bytes, 'x'));
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(24 * daysAgo));
}

// What the tree's readers still have to hand over, at most five seconds.
void settle(const CTreeFileCtrl& tree) {
    QElapsedTimer clock;
    clock.start();
    while (tree.reading() && clock.elapsed() < 5000) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// Opens `item` and waits for what is read below it.
void open(CTreeFileCtrl& tree, QTreeWidgetItem* item) {
    if (item != nullptr) {
        item->setExpanded(true);
        settle(tree);
    }
}

class ScopedHome {
  public:
    explicit ScopedHome(const std::string& home) {
        if (const char* old = std::getenv("HOME")) {
            old_ = old;
        }
        ::setenv("HOME", home.c_str(), 1);
    }
    ~ScopedHome() {
        if (old_) {
            ::setenv("HOME", old_->c_str(), 1);
        }
    }
    ScopedHome(const ScopedHome&) = delete;
    ScopedHome& operator=(const ScopedHome&) = delete;

  private:
    std::optional<std::string> old_;
};

void renderLocal(const ScreenshotContext& context) {
    testsupport::RecordingPrompter person;
    Prompter* previousPrompter = setPrompter(&person);
    testsupport::TempFolder work("kelvane-local-screens");
    const fs::path home = work.path() / "anna";
    const ScopedHome scopedHome(home.string());
    const fs::path site = home / "site";
    put(site / "index.html", 14'820, 3);
    put(site / "about.html", 6'114, 40);
    put(site / "contact.html", 3'402, 40);
    put(site / "notes.txt", 912, 1);
    put(site / "sitemap.xml", 1'288, 3);
    put(site / ".htaccess", 211, 200);
    put(site / "css" / "style.css", 22'401, 3);
    put(site / "css" / "print.css", 1'730, 90);
    put(site / "images" / "logo.png", 18'223, 300);
    put(site / "images" / "photos" / "2024" / "harbour.jpg", 2'451'882, 60);
    put(site / "js" / "app.js", 48'116, 3);
    put(site / "old" / "index-2019.html", 9'044, 1900);
    put(site / "drafts" / "spring.html", 2'210, 2);
    put(site / ".git" / "HEAD", 23, 1);
    put(home / "Documents" / "invoice.pdf", 80'000, 30);
    put(home / "Pictures" / "cat.jpg", 800'000, 30);
    put(home / ".config" / "kelvane" / "Kelvane.conf", 300, 5);
    const fs::path net = work.path() / "net";
    put(net / "www" / "shop" / "index.html", 100, 10);
    put(net / "www" / "blog" / "index.html", 100, 10);
    put(net / "backup" / "2025" / "site.tar", 100, 10);
    put(net / "web1" / "html" / "index.html", 100, 10);

    const fs::path mounts = work.path() / "mounts";
    testsupport::writeFile(mounts,
                           "/dev/nvme0n1p2 / ext4 rw 0 0\n"
                           "proc /proc proc rw 0 0\n"
                           "/dev/sdb1 /media/anna/USB\\040STICK vfat rw 0 0\n"
                           "/dev/sr0 /media/anna/PHOTOS_2019 iso9660 ro 0 0\n"
                           "tmpfs /tmp tmpfs rw 0 0\n"
                           "//fileserver/www " +
                               (net / "www").string() +
                               " cifs rw 0 0\n"
                               "fileserver:/srv/backup " +
                               (net / "backup").string() +
                               " nfs4 rw 0 0\n"
                               "deploy@web1.example.org:/var/www " +
                               (net / "web1").string() + " fuse.sshfs rw 0 0\n");

    {
        FolderDlg dialog(site.string() + "/css/", QStringLiteral("Select Local Folder"));
        dialog.tree().setMountTable(mounts.string());
        dialog.initialise();
        settle(dialog.tree());
        dialog.resize(380, 520);
        context.save(dialog, "FolderDlg");
    }
    {
        FolderDlg dialog(site.string(), QStringLiteral("Select Folder"));
        dialog.tree().setMountTable(mounts.string());
        dialog.initialise();
        CTreeFileCtrl& tree = dialog.tree();
        settle(tree);
        QTreeWidgetItem* network = tree.topLevelItem(tree.topLevelItemCount() - 1);
        open(tree, network);
        for (int i = 0; i < network->childCount(); ++i) {
            open(tree, network->child(i));
        }
        open(tree, tree.itemOfPath((net / "www").string()));
        tree.collapseItem(tree.itemOfPath(site.string()));
        tree.collapseItem(tree.itemOfPath(home.string()));
        dialog.resize(380, 520);
        context.save(dialog, "FolderDlg-network");
    }

    // The tree with files, as a window of its own would show it.
    for (const bool hidden : {false, true}) {
        QWidget pane;
        auto* layout = new QVBoxLayout(&pane);
        auto* tree = new CTreeFileCtrl(&pane);
        layout->addWidget(tree);
        tree->setMountTable(mounts.string());
        tree->setOptions(CTreeFileCtrl::kFolderDialogOptions | CTreeFileCtrl::kShowFiles);
        tree->setShowNetwork(false);
        if (hidden) {
            tree->setHiddenAttributeMask(0);
        }
        tree->refresh();
        tree->selectPath(site.string());
        open(*tree, tree->currentItem());
        open(*tree, tree->itemOfPath((site / "css").string()));
        if (!hidden) {
            // No file system here compresses or encrypts: these two items are given the
            // attributes that a compressed btrfs folder and an fscrypt folder report, to show
            // the colours.
            tree->setItemAttributes(tree->itemOfPath((site / "old").string()),
                                    kAttributeCompressed);
            tree->setItemAttributes(tree->itemOfPath((site / "drafts").string()),
                                    kAttributeEncrypted);
        }
        pane.resize(340, 520);
        context.save(pane, hidden ? "CTreeFileCtrl-hidden-files" : "CTreeFileCtrl-files");
        if (!hidden) {
            tree->selectPath((site / "css").string());
            auto menu = tree->createContextMenu(tree->currentItem());
            menu->ensurePolished();
            menu->resize(menu->sizeHint());
            context.save(*menu, "CTreeFileCtrl-menu");
        }
    }

    {
        ExclusionSet exclusions;
        exclusions.addPath((site / "notes.txt").string());
        exclusions.addPath((site / "old").string() + "/");
        exclusions.addWildcard("*.bak");
        exclusions.sort();
        BrowseLocalDlg dialog(site.string() + "/", &exclusions);
        dialog.tree().setMountTable(mounts.string());
        dialog.OnTimer();
        dialog.findChild<QComboBox*>("viewStyleCombo")->setCurrentIndex(3);
        dialog.list().selectRows({2});  // drafts, added below
        dialog.OnAdd();
        for (int row = 0; row < dialog.list().rowCount(); ++row) {
            if (dialog.list().entryAtRow(row)->name == "index.html") {
                dialog.list().selectRows({row});
            }
        }
        settle(dialog.tree());
        dialog.resize(820, 500);
        context.save(dialog, "BrowseLocalDlg");
    }
    {
        BrowseLocalDlg dialog((site / "css").string(), nullptr);
        dialog.tree().setMountTable(mounts.string());
        dialog.OnTimer();
        settle(dialog.tree());
        dialog.resize(820, 460);
        context.save(dialog, "BrowseLocalDlg-no-exclusions");
    }
    {
        fs::permissions(site / ".htaccess", fs::perms::owner_write, fs::perm_options::remove);
        PropertiesDlg file((site / ".htaccess").string());
        context.save(file, "PropertiesDlg-file");
        PropertiesDlg folder((site / "images").string());
        context.save(folder, "PropertiesDlg-folder");
    }
    setPrompter(previousPrompter);
}

const ScreenshotRegistrar registrar("local", renderLocal);

}  // namespace
