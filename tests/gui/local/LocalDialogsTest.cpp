// The folder dialogs of the local side on a real temporary tree: "Select folder" hands back the
// folder chosen in its tree; "Browse Local System" keeps its tree and list in step and marks
// exclusions on a working copy that reaches the caller on OK only.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "gui/local/LocalTestSupport.h"
#include "ui/browse/BrowseLocalDlg.h"
#include "ui/browse/FolderDlg.h"
#include "ui/browse/SysFileBrowseCtrl.h"
#include "ui/icons/ImageLists.h"

namespace localtest {
namespace {

class LocalDialogsTest : public LocalTest {
  protected:
    void SetUp() override {
        LocalTest::SetUp();
        put("site/index.html");
        put("site/notes.txt");
        put("site/about.html");
        put("site/css/style.css");
        put("site/old/page.html");
    }
    std::string folder(const std::string& relative) const { return path(relative) + "/"; }

    // The mount table of the test for every tree the dialogs make.
    template <typename Dialog>
    void useTestMounts(Dialog& dialog) {
        dialog.tree().setMountTable(mounts_.string());
    }
    static std::vector<std::string> exactPaths(const ExclusionSet& set) {
        std::vector<std::string> paths;
        for (const FileEntryPtr& entry : set.exactEntries()) {
            paths.push_back(ExclusionSet::displayPath(*entry));
        }
        return paths;
    }
    static std::string editText(const QDialog& dialog) {
        return dialog.findChild<QLineEdit*>("currentDirectoryEdit")->text().toStdString();
    }
    static void select(BrowseLocalDlg& dialog, const std::vector<std::string>& names) {
        std::vector<int> rows;
        for (const std::string& name : names) {
            for (int row = 0; row < dialog.list().rowCount(); ++row) {
                if (dialog.list().entryAtRow(row)->name == name) {
                    rows.push_back(row);
                }
            }
        }
        ASSERT_EQ(rows.size(), names.size());
        dialog.list().selectRows(rows);
    }
    static bool shownExcluded(BrowseLocalDlg& dialog, const std::string& name) {
        for (int row = 0; row < dialog.list().rowCount(); ++row) {
            const FileEntryPtr entry = dialog.list().entryAtRow(row);
            if (entry->name == name) {
                const int excludedImage = entry->isFolder() ? 2 : 3;
                return dialog.list().rowImage(row) == excludedImage;
            }
        }
        ADD_FAILURE() << "no row " << name;
        return false;
    }
};

TEST_F(LocalDialogsTest, SelectFolderReturnsTheChosenFolderWithATrailingSeparator) {
    struct Case {
        const char* name;
        std::string initial;
        std::string choose;  // empty: keep what the dialog opened on
        std::string expected;
    };
    const Case cases[] = {
        {"the initial folder", folder("site/css"), "", folder("site/css")},
        {"another folder chosen", path("site"), path("site/old"), folder("site/old")},
        {"the root", "/", "", "/"},
        {"a folder that has gone", folder("site/gone"), "", folder("site")},
        {"nothing with a path chosen", "", "", "/"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FolderDlg dialog(c.initial, QStringLiteral("Select Local Folder"));
        useTestMounts(dialog);
        EXPECT_EQ(dialog.windowTitle().toStdString(), "Select folder");
        EXPECT_EQ(dialog.findChild<QLabel*>("promptLabel")->text().toStdString(),
                  "Select Local Folder");
        dialog.initialise();
        if (!c.choose.empty()) {
            ASSERT_TRUE(dialog.tree().selectPath(c.choose));
        }
        dialog.accept();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(dialog.path(), c.expected);
        EXPECT_TRUE(settled(dialog.tree()));
    }

    // What the tree allows in the dialog: rename, delete and properties, no files, no open.
    FolderDlg dialog(path("site"), QStringLiteral("Select Folder"));
    useTestMounts(dialog);
    dialog.initialise();
    EXPECT_FALSE(dialog.tree().showFiles());
    EXPECT_FALSE(dialog.tree().allowOpen());
    EXPECT_TRUE(dialog.tree().allowRename());
    EXPECT_TRUE(dialog.tree().allowDelete());
    EXPECT_TRUE(dialog.tree().allowProperties());
    EXPECT_TRUE(settled(dialog.tree()));
}

TEST_F(LocalDialogsTest, ExclusionsAreMarkedOnTheWorkingCopyAndReachTheCallerOnOkOnly) {
    ExclusionSet exclusions;
    exclusions.addPath(path("site/notes.txt"));
    exclusions.addWildcard("*.bak");
    exclusions.sort();

    for (const bool ok : {false, true}) {
        SCOPED_TRACE(ok ? "OK" : "Cancel");
        BrowseLocalDlg dialog(folder("site"), &exclusions);
        useTestMounts(dialog);
        dialog.OnTimer();
        EXPECT_EQ(editText(dialog), folder("site"));
        EXPECT_EQ(dialog.tree().selectedPath(), path("site"));
        EXPECT_TRUE(shownExcluded(dialog, "notes.txt"));
        EXPECT_FALSE(shownExcluded(dialog, "index.html"));
        auto* add = dialog.findChild<QPushButton*>("addButton");
        EXPECT_FALSE(add->isEnabled()) << "nothing selected yet";

        select(dialog, {"old", "about.html"});
        EXPECT_TRUE(add->isEnabled());
        dialog.OnAdd();
        EXPECT_TRUE(shownExcluded(dialog, "old"));
        EXPECT_TRUE(shownExcluded(dialog, "about.html"));
        select(dialog, {"notes.txt"});
        dialog.OnRemove();
        EXPECT_FALSE(shownExcluded(dialog, "notes.txt"));
        EXPECT_EQ(exactPaths(dialog.workingExclusions()),
                  (std::vector<std::string>{path("site/about.html"), folder("site/old")}));
        EXPECT_EQ(exactPaths(exclusions), (std::vector<std::string>{path("site/notes.txt")}))
            << "the caller's set is not touched while the dialog is open";

        dialog.list().selectRows({});
        if (ok) {
            dialog.accept();
            EXPECT_EQ(exactPaths(exclusions),
                      (std::vector<std::string>{path("site/about.html"), folder("site/old")}));
            ASSERT_EQ(exclusions.wildcardEntries().size(), 1u);
            EXPECT_EQ(dialog.currentDirectory(), folder("site"));
        } else {
            dialog.reject();
            EXPECT_EQ(exactPaths(exclusions), (std::vector<std::string>{path("site/notes.txt")}));
        }
        EXPECT_TRUE(settled(dialog.tree()));
    }
}

TEST_F(LocalDialogsTest, OkAddsWhatIsSelectedAndWithoutASetChangesNoExclusions) {
    ExclusionSet exclusions;
    {
        BrowseLocalDlg dialog(folder("site"), &exclusions);
        useTestMounts(dialog);
        dialog.OnTimer();
        select(dialog, {"index.html", "notes.txt"});
        dialog.accept();
        EXPECT_EQ(exactPaths(exclusions),
                  (std::vector<std::string>{path("site/index.html"), path("site/notes.txt")}));
        EXPECT_TRUE(settled(dialog.tree()));
    }
    {
        // One folder selected: the caller gets the folder it lies in, not the folder itself.
        BrowseLocalDlg dialog(folder("site"), nullptr);
        useTestMounts(dialog);
        dialog.OnTimer();
        for (const char* name : {"exclusionsLabel", "addButton", "removeButton", "hintLabel"}) {
            EXPECT_TRUE(dialog.findChild<QWidget*>(name)->isHidden()) << name;
        }
        select(dialog, {"css"});
        EXPECT_EQ(editText(dialog), folder("site/css"));
        dialog.accept();
        EXPECT_EQ(dialog.currentDirectory(), folder("site"));
        EXPECT_TRUE(settled(dialog.tree()));
    }
}

TEST_F(LocalDialogsTest, TheTreeAndTheListFollowEachOther) {
    BrowseLocalDlg dialog(folder("site/old"), nullptr);
    useTestMounts(dialog);
    dialog.OnTimer();
    EXPECT_EQ(dialog.list().currentFolder()->fullPath(), path("site/old"));
    auto* up = dialog.findChild<QPushButton*>("upButton");
    EXPECT_TRUE(up->isEnabled());

    // Up in the list: the tree selects the folder above.
    dialog.OnUp();
    EXPECT_EQ(dialog.list().currentFolder()->fullPath(), path("site"));
    EXPECT_EQ(dialog.tree().selectedPath(), path("site"));

    // A folder chosen in the tree: the list shows it.
    ASSERT_TRUE(dialog.tree().selectPath(path("site/css")));
    EXPECT_EQ(dialog.list().currentFolder()->fullPath(), path("site/css"));
    EXPECT_EQ(editText(dialog), folder("site/css"));

    // A folder entered in the list: the tree follows.
    dialog.OnUp();
    select(dialog, {"old"});
    dialog.list().changeDirToItem(dialog.list().rowOf(dialog.selectedEntries().front()));
    EXPECT_EQ(dialog.tree().selectedPath(), path("site/old"));

    // A folder deleted in the list leaves the tree too.
    dialog.OnUp();
    select(dialog, {"css"});
    dialog.OnDelete();
    EXPECT_FALSE(fs::exists(path("site/css")));
    EXPECT_EQ(dialog.tree().selectedPath(), path("site"));
    QTreeWidgetItem* site = dialog.tree().currentItem();
    site->setExpanded(true);
    EXPECT_TRUE(settled(dialog.tree()));
    EXPECT_EQ(childLabels(site), (std::vector<std::string>{"old"}));
}

TEST_F(LocalDialogsTest, AStartFolderThatHasGoneOpensTheNearestFolderAbove) {
    BrowseLocalDlg dialog(folder("site/gone/deeper"), nullptr);
    useTestMounts(dialog);
    dialog.OnTimer();
    EXPECT_EQ(dialog.tree().selectedPath(), path("site"));
    EXPECT_EQ(dialog.list().currentFolder()->fullPath(), path("site"));
    EXPECT_EQ(editText(dialog), folder("site"));
    EXPECT_TRUE(prompter_.messages.empty());
    EXPECT_TRUE(settled(dialog.tree()));
}

}  // namespace
}  // namespace localtest
