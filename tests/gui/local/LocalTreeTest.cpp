// The local folder tree on a real temporary tree: drives and shares from a mount table, folders
// read when opened, hidden files, selecting a path, delete to the trash and for good, rename,
// the watcher, the context menu, colours and the properties dialog.

#include <sys/stat.h>

#include <QAction>
#include <QCheckBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTest>
#include <QTextBrowser>
#include <cerrno>
#include <cstring>

#include "gui/local/LocalTestSupport.h"
#include "ui/browse/PropertiesDlg.h"

namespace localtest {
namespace {

using Kind = CTreeFileCtrl::ItemKind;

class LocalTreeTest : public LocalTest {
  protected:
    void SetUp() override {
        LocalTest::SetUp();
        put("site/index.html");
        put("site/style.css");
        put("site/.htaccess");
        put("site/css/print.css");
        put("site/images/thumbs/a.png");
        put("site/.git/HEAD");
        put("site/alpha/");
        put("site/Zeta/");
    }

    // The item of a folder below the home folder, selected and read.
    QTreeWidgetItem* openFolder(CTreeFileCtrl& tree, const std::string& relative) {
        EXPECT_TRUE(tree.selectPath(path(relative))) << relative;
        QTreeWidgetItem* item = tree.currentItem();
        if (item == nullptr) {
            return nullptr;
        }
        item->setExpanded(true);
        EXPECT_TRUE(settled(tree));
        return item;
    }
    bool inTrash(const std::string& name) const {
        const fs::path trash = home_ / ".local" / "share" / "Trash";
        return fs::exists(trash / "files" / name) &&
               fs::exists(trash / "info" / (name + ".trashinfo"));
    }
    std::string lastQuestion() const {
        return prompter_.questions.empty() ? std::string() : prompter_.questions.back();
    }
    std::string lastMessage() const {
        return prompter_.messages.empty() ? std::string() : prompter_.messages.back();
    }
};

TEST_F(LocalTreeTest, TheDrivesAndSharesComeFromTheMountTableByTheirTypes) {
    const std::string share = (work_.path() / "www").string();
    fs::create_directories(share + "/shop");
    const std::string table =
        "/dev/vda / ext4 rw 0 0\n"
        "/dev/sdc1 /media/t/STICK vfat rw 0 0\n"
        "/dev/sr0 /media/t/DVD iso9660 ro 0 0\n"
        "proc /proc proc rw 0 0\n"
        "//nas/www " +
        share + " cifs rw 0 0\n";
    struct Case {
        const char* name;
        std::uint32_t hiddenTypes;
        bool computer;
        bool network;
        std::vector<std::string> top;
        std::vector<std::string> drives;  // under "Computer"
        std::vector<std::string> servers;
    };
    const std::vector<Case> cases = {
        {"every type",
         0,
         true,
         true,
         {"Computer", "Network"},
         {"File System", "Home", "DVD", "STICK"},
         {"nas"}},
        {"no fixed drives",
         kDriveFixed,
         true,
         true,
         {"Computer", "Network"},
         {"DVD", "STICK"},
         {"nas"}},
        {"no removable media",
         kDriveRemovable | kDriveCdRom,
         true,
         true,
         {"Computer", "Network"},
         {"File System", "Home"},
         {"nas"}},
        {"no remote drives",
         kDriveRemote,
         true,
         true,
         {"Computer", "Network"},
         {"File System", "Home", "DVD", "STICK"},
         {}},
        {"drives at the top",
         0,
         false,
         true,
         {"File System", "Home", "DVD", "STICK", "Network"},
         {},
         {"nas"}},
        {"no network", 0, true, false, {"Computer"}, {"File System", "Home", "DVD", "STICK"}, {}},
    };
    writeMounts(table);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTreeFileCtrl tree;
        tree.setMountTable(mounts_.string());
        tree.setHiddenDriveTypes(c.hiddenTypes);
        tree.setShowComputerItem(c.computer);
        tree.setShowNetwork(c.network);
        tree.refresh();
        EXPECT_EQ(childLabels(tree.invisibleRootItem()), c.top);
        if (c.computer) {
            EXPECT_EQ(tree.kindOf(tree.topLevelItem(0)), Kind::Computer);
            EXPECT_EQ(childLabels(tree.topLevelItem(0)), c.drives);
        }
        if (c.network) {
            QTreeWidgetItem* network = tree.topLevelItem(tree.topLevelItemCount() - 1);
            EXPECT_TRUE(tree.isNetworkItem(network));
            EXPECT_EQ(childLabels(network), c.servers);
            if (!c.servers.empty()) {
                QTreeWidgetItem* www = network->child(0)->child(0);
                EXPECT_EQ(www->text(0).toStdString(), "www");
                EXPECT_EQ(tree.itemPath(www), share);
                EXPECT_TRUE(tree.isNetworkItem(www));
                EXPECT_FALSE(tree.isDrive(www));
                EXPECT_FALSE(tree.canDelete(www));
                www->setExpanded(true);
                EXPECT_TRUE(settled(tree));
                EXPECT_EQ(childLabels(www), (std::vector<std::string>{"shop"}));
            }
        }
        EXPECT_TRUE(settled(tree));
    }
}

TEST_F(LocalTreeTest, AFolderIsReadWhenOpenedAndItsSubFoldersShowWhetherTheyHoldMore) {
    auto tree = makeTree();
    QTreeWidgetItem* home = tree->topLevelItem(0)->child(1);
    ASSERT_EQ(home->text(0).toStdString(), "Home");
    EXPECT_TRUE(tree->isDrive(home));
    EXPECT_EQ(home->childCount(), 0) << "nothing is read before it is opened";

    QTreeWidgetItem* site = openFolder(*tree, "site");
    ASSERT_NE(site, nullptr);
    // Folders only, hidden ones included, in name order whatever the letter case.
    EXPECT_EQ(childLabels(site),
              (std::vector<std::string>{".git", "alpha", "css", "images", "Zeta"}));
    const auto policy = [&](const char* name) {
        return tree->childNamed(site, name)->childIndicatorPolicy();
    };
    EXPECT_EQ(policy("images"), QTreeWidgetItem::ShowIndicator);
    EXPECT_EQ(policy("css"), QTreeWidgetItem::DontShowIndicator) << "holds only a file";
    EXPECT_EQ(policy("alpha"), QTreeWidgetItem::DontShowIndicator);
    EXPECT_EQ(tree->itemPath(tree->childNamed(site, "images")), path("site/images"));

    const auto watched = tree->watchedPaths();
    EXPECT_NE(std::find(watched.begin(), watched.end(), path("site")), watched.end());
    EXPECT_NE(std::find(watched.begin(), watched.end(), home_.string()), watched.end());
}

TEST_F(LocalTreeTest, DotFilesAreHiddenFilesAndFoldersAreListedWhateverTheirAttributes) {
    ASSERT_EQ(::mkfifo(path("site/pipe").c_str(), 0600), 0);
    struct Case {
        const char* name;
        std::uint32_t hiddenMask;
        std::string fileMask;
        std::vector<std::string> listed;
    };
    const std::vector<std::string> folders = {".git", "alpha", "css", "images", "Zeta"};
    const auto with = [&folders](std::vector<std::string> files) {
        std::vector<std::string> all = folders;
        all.insert(all.end(), files.begin(), files.end());
        return all;
    };
    const std::vector<Case> cases = {
        {"hidden and system files left out", 0x1106, "*.*", with({"index.html", "style.css"})},
        {"every file", 0, "*.*", with({".htaccess", "index.html", "pipe", "style.css"})},
        {"hidden ones only left out", kAttributeHidden, "*.*",
         with({"index.html", "pipe", "style.css"})},
        {"by the file mask", 0x1106, "*.html", with({"index.html"})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CTreeFileCtrl tree;
        tree.setMountTable(mounts_.string());
        tree.setOptions(CTreeFileCtrl::kFolderDialogOptions | CTreeFileCtrl::kShowFiles);
        tree.setHiddenAttributeMask(c.hiddenMask);
        tree.setFileMask(c.fileMask);
        tree.refresh();
        QTreeWidgetItem* site = openFolder(tree, "site");
        ASSERT_NE(site, nullptr);
        EXPECT_EQ(childLabels(site), c.listed);
        EXPECT_EQ(tree.kindOf(tree.childNamed(site, "css")), Kind::Folder);
        if (QTreeWidgetItem* file = tree.childNamed(site, "index.html")) {
            EXPECT_EQ(tree.kindOf(file), Kind::File);
        }
    }
}

TEST_F(LocalTreeTest, SelectingAPathOpensTheFoldersDownToItOrToTheDeepestThatExists) {
    auto tree = makeTree();
    EXPECT_TRUE(tree->selectPath(path("site/images/thumbs") + "/")) << "a trailing / is ignored";
    EXPECT_EQ(tree->selectedPath(), path("site/images/thumbs"));
    EXPECT_TRUE(tree->currentItem()->parent()->isExpanded());
    EXPECT_EQ(tree->currentItem()->parent()->parent()->text(0).toStdString(), "site");

    EXPECT_FALSE(tree->selectPath(path("site/images/gone/deeper")));
    EXPECT_EQ(tree->selectedPath(), path("site/images"));

    // "/" is the File System drive, and a folder outside the home folder is reached through it.
    EXPECT_TRUE(tree->selectPath("/"));
    EXPECT_EQ(tree->currentItem()->text(0).toStdString(), "File System");
    EXPECT_TRUE(tree->selectPath(work_.path().string()));

    CTreeFileCtrl rooted;
    rooted.setMountTable(mounts_.string());
    rooted.setRootFolder(path("site") + "/");
    rooted.refresh();
    ASSERT_EQ(rooted.topLevelItemCount(), 1);
    EXPECT_EQ(rooted.topLevelItem(0)->text(0).toStdString(), path("site"));
    EXPECT_FALSE(rooted.canDelete(rooted.topLevelItem(0)));
    EXPECT_FALSE(rooted.selectPath(path("other")));
    EXPECT_EQ(rooted.currentItem(), nullptr);
    EXPECT_TRUE(rooted.selectPath(path("site/css")));
    EXPECT_EQ(rooted.selectedPath(), path("site/css"));
}

TEST_F(LocalTreeTest, DeleteMovesToTheTrashShiftDeletesForGoodAndACancelLeavesTheItem) {
    struct Case {
        const char* name;
        std::string target;
        Qt::KeyboardModifiers keys;
        bool answer;
        bool trashed;
        bool gone;
    };
    ::chmod(path("site/images/thumbs").c_str(), 0555);
    const Case cases[] = {
        {"a folder to the trash", "site/css", Qt::NoModifier, true, true, true},
        {"a read-only folder for good", "site/images", Qt::ShiftModifier, true, false, true},
        {"cancelled", "site/alpha", Qt::NoModifier, false, false, false},
        {"cancelled with Shift", "site/Zeta", Qt::ShiftModifier, false, false, false},
    };
    auto tree = makeTree();
    tree->show();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string name = fs::path(c.target).filename().string();
        ASSERT_TRUE(tree->selectPath(path(c.target)));
        QTreeWidgetItem* parent = tree->currentItem()->parent();
        prompter_.answers = {c.answer};
        QTest::keyClick(tree.get(), Qt::Key_Delete, c.keys);
        EXPECT_NE(lastQuestion().find(c.keys == Qt::ShiftModifier ? "permanently delete"
                                                                  : "to the trash"),
                  std::string::npos)
            << lastQuestion();
        EXPECT_NE(lastQuestion().find(path(c.target)), std::string::npos);
        EXPECT_EQ(fs::exists(path(c.target)), !c.gone);
        EXPECT_EQ(inTrash(name), c.trashed);
        EXPECT_EQ(tree->childNamed(parent, name) == nullptr, c.gone);
        if (c.gone) {
            EXPECT_EQ(tree->selectedPath(), path("site")) << "the selection moves up";
        }
    }
    EXPECT_TRUE(prompter_.messages.empty()) << lastMessage();
    const std::string info = testsupport::readFile(home_ / ".local/share/Trash/info/css.trashinfo");
    EXPECT_NE(info.find("Path=" + path("site/css")), std::string::npos) << info;

    // A file goes the same way; a drive never.
    CTreeFileCtrl files;
    files.setMountTable(mounts_.string());
    files.setOptions(CTreeFileCtrl::kFolderDialogOptions | CTreeFileCtrl::kShowFiles);
    files.refresh();
    QTreeWidgetItem* site = openFolder(files, "site");
    prompter_.answers = {true};
    EXPECT_TRUE(files.deleteItem(files.childNamed(site, "index.html"), false));
    EXPECT_TRUE(inTrash("index.html"));
    EXPECT_EQ(files.childNamed(site, "index.html"), nullptr);
    const std::size_t asked = prompter_.questions.size();
    QTreeWidgetItem* home = files.topLevelItem(0)->child(1);
    EXPECT_FALSE(files.canDelete(home));
    EXPECT_FALSE(files.deleteItem(home, true));
    EXPECT_EQ(prompter_.questions.size(), asked);
    EXPECT_TRUE(fs::exists(home_));
}

TEST_F(LocalTreeTest, RenameChangesTheNameOnDiskAndInTheTreeButNeverReplacesAnother) {
    put("site/index.html", "<html>");
    // Made before the tree is shown: a folder made while the expansion is still being set up
    // may come before the tree watches it, and this test is about renames, not the watch.
    put("site/css/print/");
    auto tree = makeTree(CTreeFileCtrl::kFolderDialogOptions | CTreeFileCtrl::kShowFiles);
    QTreeWidgetItem* site = openFolder(*tree, "site");
    ASSERT_NE(site, nullptr);
    QTreeWidgetItem* css = tree->childNamed(site, "css");
    css->setExpanded(true);
    ASSERT_TRUE(waitUntil([&] { return tree->childNamed(css, "print") != nullptr; }));

    struct Case {
        const char* name;
        std::string from;
        std::string to;
        bool done;
        std::string reason;  // the message's second line; empty: no message
    };
    const Case cases[] = {
        {"onto another file", "index.html", "style.css", false, std::strerror(EEXIST)},
        {"onto an empty folder", "css", "alpha", false, std::strerror(EEXIST)},
        {"onto another folder", "css", "images", false, std::strerror(EEXIST)},
        {"into another folder", "css", "images/css", false, std::strerror(EINVAL)},
        {"the same name", "css", "css", false, ""},
        {"a new name", "css", "styles", true, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t told = prompter_.messages.size();
        QTreeWidgetItem* item = tree->childNamed(site, c.from);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(tree->finishRename(item, c.to), c.done);
        EXPECT_EQ(fs::exists(path("site/" + c.from)), !c.done || c.from == c.to);
        EXPECT_TRUE(fs::exists(path("site/" + c.to)) || c.to.find('/') != std::string::npos);
        if (c.reason.empty()) {
            EXPECT_EQ(prompter_.messages.size(), told);
        } else {
            EXPECT_EQ(lastMessage(),
                      "Failed to rename: " + path("site/" + c.from) + "\n" + c.reason);
        }
    }
    EXPECT_TRUE(fs::exists(path("site/styles/print.css")));
    QTreeWidgetItem* styles = tree->childNamed(site, "styles");
    ASSERT_EQ(styles, css) << "the same item, renamed";
    EXPECT_EQ(tree->itemPath(styles), path("site/styles"));
    EXPECT_EQ(tree->itemPath(tree->childNamed(styles, "print")), path("site/styles/print"));
    EXPECT_EQ(childLabels(site), (std::vector<std::string>{".git", "alpha", "images", "styles",
                                                           "Zeta", "index.html", "style.css"}));
    // Nothing was replaced on the way.
    EXPECT_EQ(testsupport::readFile(home_ / "site" / "style.css"), "x");
    EXPECT_TRUE(fs::is_directory(path("site/alpha")));
    EXPECT_EQ(log_.lines.back().rfind("CTreeFileCtrl::OnRename: Failed to rename: ", 0), 0u);

    // Through the editor: the typed name is taken once the editor has closed.
    tree->show();
    ASSERT_TRUE(tree->beginRename(tree->childNamed(site, "alpha")));
    auto* editor = tree->viewport()->findChild<QLineEdit*>();
    ASSERT_NE(editor, nullptr);
    editor->setText(QStringLiteral("beta"));
    QTest::keyClick(editor, Qt::Key_Return);
    EXPECT_TRUE(waitUntil([&] { return fs::exists(path("site/beta")); }));
    EXPECT_NE(tree->childNamed(site, "beta"), nullptr);

    // Drives and the top items keep their names.
    EXPECT_FALSE(tree->canRename(tree->topLevelItem(0)->child(1)));
    EXPECT_FALSE(tree->beginRename(tree->topLevelItem(0)->child(1)));
}

TEST_F(LocalTreeTest, AWatchedFolderIsReadAgainWhenANameComesOrGoes) {
    auto tree = makeTree();
    QTreeWidgetItem* site = openFolder(*tree, "site");
    ASSERT_NE(site, nullptr);
    QTreeWidgetItem* images = tree->childNamed(site, "images");
    images->setExpanded(true);
    ASSERT_TRUE(settled(*tree));
    tree->setCurrentItem(tree->childNamed(images, "thumbs"));

    put("site/news/2024/");
    fs::remove_all(path("site/alpha"));
    EXPECT_TRUE(waitUntil([&] {
        return tree->childNamed(site, "news") != nullptr &&
               tree->childNamed(site, "alpha") == nullptr;
    }));
    EXPECT_EQ(childLabels(site),
              (std::vector<std::string>{".git", "css", "images", "news", "Zeta"}));
    EXPECT_TRUE(settled(*tree));
    EXPECT_EQ(tree->childNamed(site, "news")->childIndicatorPolicy(),
              QTreeWidgetItem::ShowIndicator);
    // What was open below stays open and selected.
    EXPECT_EQ(tree->childNamed(site, "images"), images);
    EXPECT_TRUE(images->isExpanded());
    EXPECT_EQ(tree->selectedPath(), path("site/images/thumbs"));

    tree->unwatchAll();
    EXPECT_TRUE(tree->watchedPaths().empty());
}

TEST_F(LocalTreeTest, TheContextMenuOffersWhatTheOptionsAllowForTheItem) {
    struct Case {
        const char* name;
        unsigned options;
        std::string item;  // below the home folder; "home" for the drive, "" for the computer
        std::vector<bool> enabled;  // Open, Rename, Delete, Properties
    };
    const Case cases[] = {
        {"a folder in the folder dialogs",
         CTreeFileCtrl::kFolderDialogOptions,
         "site/css",
         {false, true, true, true}},
        {"a drive", CTreeFileCtrl::kFolderDialogOptions, "home", {false, false, false, true}},
        {"the computer", 0x3f, "", {false, false, false, false}},
        {"everything allowed", 0x3f, "site/css", {true, true, true, true}},
        {"nothing allowed", 0, "site/css", {false, false, false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto tree = makeTree(c.options);
        QTreeWidgetItem* item = c.item.empty() ? tree->topLevelItem(0)
                                : c.item == "home"
                                    ? tree->topLevelItem(0)->child(1)
                                    : (tree->selectPath(path(c.item)), tree->currentItem());
        const auto menu = tree->createContextMenu(item);
        std::vector<std::string> texts;
        std::vector<bool> enabled;
        for (QAction* action : menu->actions()) {
            texts.push_back(action->text().toStdString());
            enabled.push_back(action->isEnabled());
        }
        EXPECT_EQ(texts, (std::vector<std::string>{"&Open", "&Rename", "&Delete", "&Properties"}));
        EXPECT_EQ(enabled, c.enabled);
    }
}

TEST_F(LocalTreeTest, OpenHandsTheFileToTheDesktopAndPropertiesShowsWhatItIs) {
    put("site/readme.txt", "hello");
    ::chmod(path("site/readme.txt").c_str(), 0444);
    auto tree = makeTree(0x3f);
    QTreeWidgetItem* site = openFolder(*tree, "site");
    QTreeWidgetItem* readme = tree->childNamed(site, "readme.txt");
    ASSERT_NE(readme, nullptr);

    QTextBrowser desktop;  // stands in for the desktop's file handler
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &desktop, "setSource");
    tree->setCurrentItem(readme);
    tree->createContextMenu(readme)->findChild<QAction*>("openAction")->trigger();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    EXPECT_EQ(desktop.source().toLocalFile().toStdString(), path("site/readme.txt"));

    std::map<std::string, std::string> fields;
    bool readOnly = false;
    setModalRunner([&](QDialog& dialog) {
        for (const char* name : {"typeValue", "sizeValue", "permissionsValue"}) {
            fields[name] = dialog.findChild<QLabel*>(name)->text().toStdString();
        }
        fields["nameEdit"] = dialog.findChild<QLineEdit*>("nameEdit")->text().toStdString();
        fields["locationEdit"] = dialog.findChild<QLineEdit*>("locationEdit")->text().toStdString();
        fields["title"] = dialog.windowTitle().toStdString();
        readOnly = dialog.findChild<QCheckBox*>("readOnlyCheck")->isChecked();
        return int(QDialog::Rejected);
    });
    tree->OnProperties();
    EXPECT_EQ(fields["title"], "readme.txt Properties");
    EXPECT_EQ(fields["nameEdit"], "readme.txt");
    EXPECT_EQ(fields["locationEdit"], path("site"));
    EXPECT_EQ(fields["typeValue"], "File");
    EXPECT_EQ(fields["sizeValue"], "5 bytes");
    EXPECT_EQ(fields["permissionsValue"], "r--r--r-- (444)");
    EXPECT_TRUE(readOnly);

    tree->setCurrentItem(tree->childNamed(site, "css"));
    tree->OnProperties();
    EXPECT_EQ(fields["typeValue"], "Folder");
    EXPECT_EQ(fields["sizeValue"], "1 file, 0 folders");
}

TEST_F(LocalTreeTest, CompressedAndEncryptedItemsAreDrawnInTheirColours) {
    EXPECT_EQ(attributesOfStatx(STATX_ATTR_COMPRESSED), std::uint32_t{kAttributeCompressed});
    EXPECT_EQ(attributesOfStatx(STATX_ATTR_ENCRYPTED), std::uint32_t{kAttributeEncrypted});
    EXPECT_EQ(attributesOfStatx(STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND), 0u);

    auto tree = makeTree();
    QTreeWidgetItem* site = openFolder(*tree, "site");
    QTreeWidgetItem* css = tree->childNamed(site, "css");
    const auto colour = [&] {
        const QVariant brush = css->data(0, Qt::ForegroundRole);
        return brush.isValid() ? brush.value<QBrush>().color() : QColor();
    };
    EXPECT_FALSE(colour().isValid());
    struct Case {
        const char* name;
        std::uint32_t attributes;
        bool showCompressed;
        bool showEncrypted;
        QColor expected;
    };
    const Case cases[] = {
        {"compressed", kAttributeCompressed, true, true, QColor(0, 0, 255)},
        {"encrypted", kAttributeEncrypted, true, true, QColor(255, 0, 0)},
        {"both: compressed first", kAttributeCompressed | kAttributeEncrypted, true, true,
         QColor(0, 0, 255)},
        {"compressed, its colour off", kAttributeCompressed | kAttributeEncrypted, false, true,
         QColor(255, 0, 0)},
        {"both colours off", kAttributeCompressed | kAttributeEncrypted, false, false, QColor()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tree->setShowCompressedInColour(c.showCompressed);
        tree->setShowEncryptedInColour(c.showEncrypted);
        tree->setItemAttributes(css, c.attributes);
        EXPECT_EQ(tree->isCompressed(css), (c.attributes & kAttributeCompressed) != 0);
        EXPECT_EQ(colour(), c.expected);
    }
}

}  // namespace
}  // namespace localtest
