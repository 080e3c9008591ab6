// More Options, Configuration and Batch List: what each hands back on OK, and what it refuses.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <memory>
#include <string>
#include <vector>

#include "gui/DialogScripts.h"
#include "profiles/AppSettings.h"
#include "profiles/BatchList.h"
#include "profiles/Profile.h"
#include "profiles/SettingsStore.h"
#include "support/TempFolder.h"
#include "ui/settings/BatchDlg.h"
#include "ui/settings/ConfigurationDlg.h"
#include "ui/settings/MoreOptionsDlg.h"

namespace {

namespace fs = std::filesystem;

template <typename Widget>
Widget& child(QWidget& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(name);
    EXPECT_NE(widget, nullptr) << name;
    return *widget;
}

QLineEdit& edit(QWidget& dialog, const char* name) {
    return child<QLineEdit>(dialog, name);
}

class SettingsDialogsTest : public guitest::DialogTest {
  protected:
    std::string messages() const {
        std::string all;
        for (const std::string& message : prompter_.messages) {
            all += message + "|";
        }
        return all;
    }

    testsupport::TempFolder work_{"kelvane-gui-settings"};
};

// ---- More Options ----

TEST_F(SettingsDialogsTest, MoreOptionsRefusesATimeAdjustmentOutOfRange) {
    struct Case {
        const char* box;
        const char* text;
        const char* message;
    };
    const Case cases[] = {
        {"adjustHoursEdit", "13", "Please enter an integer between -12 and 12."},
        {"adjustHoursEdit", "-13", "Please enter an integer between -12 and 12."},
        {"adjustHoursEdit", "1h", "Please enter an integer."},
        {"adjustHoursEdit", "", "Please enter an integer."},
        {"adjustMinsEdit", "60", "Please enter an integer between -59 and 59."},
        {"adjustMinsEdit", "- 5", "Please enter an integer."},
    };
    for (const Case& c : cases) {
        Profile profile;
        profile.adjust_time_hours = 2;
        MoreOptionsDlg dialog(profile);
        edit(dialog, c.box).setText(c.text);
        prompter_.messages.clear();
        dialog.accept();
        EXPECT_EQ(messages(), std::string(c.message) + "|") << c.box << " " << c.text;
        EXPECT_NE(dialog.result(), QDialog::Accepted) << c.text;
        EXPECT_EQ(edit(dialog, c.box).selectedText(), c.text);
        EXPECT_FALSE(profile.modified);
        EXPECT_EQ(profile.adjust_time_hours, 2);
    }
}

TEST_F(SettingsDialogsTest, MoreOptionsShowsTheProfileAndWritesItBackOnOk) {
    Profile profile;
    profile.auto_start = 2;
    profile.compare_on_time = false;
    profile.adjust_time_hours = -1;
    profile.adjust_time_mins = 30;
    profile.log_file_on = false;
    profile.log_file_path = "/var/log/site.txt";
    MoreOptionsDlg dialog(profile);

    EXPECT_TRUE(child<QCheckBox>(dialog, "autoStartCheck").isChecked());
    EXPECT_TRUE(child<QRadioButton>(dialog, "compareSizeRadio").isChecked());
    EXPECT_EQ(edit(dialog, "adjustHoursEdit").text(), "-1");
    EXPECT_EQ(edit(dialog, "adjustMinsEdit").text(), "30");
    EXPECT_TRUE(child<QRadioButton>(dialog, "logOverwriteRadio").isChecked());
    for (const char* name :
         {"logPathEdit", "logBrowseButton", "logOverwriteRadio", "logAppendRadio"}) {
        EXPECT_FALSE(child<QWidget>(dialog, name).isEnabled()) << name;
    }

    child<QCheckBox>(dialog, "logFileCheck").click();
    EXPECT_TRUE(edit(dialog, "logPathEdit").isEnabled());
    EXPECT_TRUE(child<QRadioButton>(dialog, "logAppendRadio").isEnabled());
    child<QRadioButton>(dialog, "logAppendRadio").click();
    child<QRadioButton>(dialog, "compareTimeRadio").click();
    edit(dialog, "adjustHoursEdit").setText(" 12 ");
    edit(dialog, "adjustMinsEdit").setText("-59");
    dialog.accept();

    EXPECT_EQ(dialog.result(), QDialog::Accepted) << messages();
    EXPECT_EQ(profile.auto_start, 1);  // 2 is shown ticked and stored as 1
    EXPECT_TRUE(profile.compare_on_time);
    EXPECT_EQ(profile.adjust_time_hours, 12);
    EXPECT_EQ(profile.adjust_time_mins, -59);
    EXPECT_TRUE(profile.log_file_on);
    EXPECT_TRUE(profile.log_file_append);
    EXPECT_EQ(profile.log_file_path, "/var/log/site.txt");
    EXPECT_TRUE(profile.modified);
}

TEST_F(SettingsDialogsTest, MoreOptionsRefusesLoggingWithoutALogFile) {
    Profile profile;
    MoreOptionsDlg dialog(profile);
    child<QCheckBox>(dialog, "logFileCheck").click();
    dialog.accept();
    EXPECT_EQ(messages(), "You have selected logging and must specify a log file|");
    EXPECT_EQ(log_.lines, std::vector<std::string>{"MoreOptionsDlg::OnOK: You have selected "
                                                   "logging and must specify a log file"});
    EXPECT_NE(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(profile.log_file_on);
    EXPECT_FALSE(profile.modified);

    // Unticked again, the path may stay empty; a path typed earlier is kept when logging is off.
    files_.file = "/home/ann/site-log.txt";
    child<QPushButton>(dialog, "logBrowseButton").click();
    ASSERT_EQ(files_.calls.size(), 1u);
    EXPECT_EQ(files_.calls[0].kind, "openNewOrExistingFile");
    EXPECT_EQ(files_.calls[0].filter, "Kelvane log file (text) (*.txt)");
    EXPECT_EQ(files_.calls[0].defaultSuffix, "txt");
    child<QCheckBox>(dialog, "logFileCheck").click();
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(profile.log_file_on);
    EXPECT_EQ(profile.log_file_path, "/home/ann/site-log.txt");
}

TEST_F(SettingsDialogsTest, MoreOptionsTooltipsFollowTheSetting) {
    Profile profile;
    const MoreOptionsDlg withTips(profile);
    EXPECT_EQ(withTips.findChild<QLineEdit*>("adjustMinsEdit")->toolTip(),
              "+ or - time to adjust FTP server times by");
    setShowTooltips(false);
    const MoreOptionsDlg withoutTips(profile);
    EXPECT_TRUE(withoutTips.findChild<QLineEdit*>("adjustMinsEdit")->toolTip().isEmpty());
}

// ---- Configuration ----

TEST_F(SettingsDialogsTest, ConfigurationChecksEachNumberAgainstItsRange) {
    struct Case {
        const char* box;
        const char* text;
        const char* message;  // empty: accepted
    };
    const Case cases[] = {
        {"commandTimeoutEdit", "9", "Please enter an integer between 10 and 99999."},
        {"commandTimeoutEdit", "10", ""},
        {"commandTimeoutEdit", "99999", ""},
        {"commandTimeoutEdit", "100000", "Please enter an integer between 10 and 99999."},
        {"commandTimeoutEdit", "-20", "Please enter a positive integer."},
        {"maxRetriesEdit", "11", "Please enter an integer between 0 and 10."},
        {"maxRetriesEdit", "-1", "Please enter an integer between 0 and 10."},
        {"maxRetriesEdit", "three", "Please enter an integer."},
        {"maxRetriesEdit", "0", ""},
        {"ftpConnectionsEdit", "0", "Please enter an integer between 1 and 16."},
        {"ftpConnectionsEdit", "17", "Please enter an integer between 1 and 16."},
        {"ftpConnectionsEdit", "1", ""},
        {"ftpConnectionsEdit", "16", ""},
        {"connectionTimeoutEdit", "0", "Please enter an integer between 1 and 999."},
        {"connectionTimeoutEdit", "1000", "Please enter an integer between 1 and 999."},
        {"connectionTimeoutEdit", "x", "Please enter a positive integer."},
    };
    for (const Case& c : cases) {
        ConfigurationSettings settings;
        std::string connections = "/home/ann/.config/Quillmere/KelvaneConnections.txt";
        ConfigurationDlg dialog(settings, connections);
        edit(dialog, c.box).setText(c.text);
        prompter_.messages.clear();
        dialog.accept();
        const bool accepted = std::string(c.message).empty();
        EXPECT_EQ(messages(), accepted ? "" : std::string(c.message) + "|") << c.box << c.text;
        EXPECT_EQ(dialog.result() == QDialog::Accepted, accepted) << c.box << " " << c.text;
    }
}

TEST_F(SettingsDialogsTest, ConfigurationHandsBackTheEditedValuesOnOkOnly) {
    ConfigurationSettings settings;
    settings.ftpConnectionTimeoutSeconds = 15 * 60;
    std::string connections = "/old/KelvaneConnections.txt";
    {
        ConfigurationDlg dialog(settings, connections);
        EXPECT_EQ(edit(dialog, "connectionTimeoutEdit").text(), "15");
        edit(dialog, "commandTimeoutEdit").setText("120");
        dialog.reject();
    }
    EXPECT_EQ(settings.commandTimeout, 60u);

    ConfigurationDlg dialog(settings, connections);
    EXPECT_TRUE(child<QRadioButton>(dialog, "ddmmyyRadio").isChecked());
    EXPECT_TRUE(edit(dialog, "connectionTimeoutEdit").isEnabled());
    child<QRadioButton>(dialog, "mmddyyRadio").click();
    child<QCheckBox>(dialog, "showTooltipsCheck").click();
    edit(dialog, "commandTimeoutEdit").setText("120");
    edit(dialog, "maxRetriesEdit").setText("10");
    EXPECT_EQ(edit(dialog, "ftpConnectionsEdit").text(), "4");
    edit(dialog, "ftpConnectionsEdit").setText("2");
    edit(dialog, "connectionTimeoutEdit").setText("999");
    files_.file = "/new/place/connections.txt";
    child<QPushButton>(dialog, "connectionsBrowseButton").click();
    ASSERT_EQ(files_.calls.size(), 1u);
    EXPECT_EQ(files_.calls[0].kind, "saveFile");
    EXPECT_EQ(files_.calls[0].filter, "FTP connections file (*.txt)");
    EXPECT_EQ(files_.calls[0].startPath, "/old/KelvaneConnections.txt");
    dialog.accept();

    EXPECT_EQ(dialog.result(), QDialog::Accepted) << messages();
    EXPECT_FALSE(settings.ddmmyy);
    EXPECT_FALSE(settings.showTooltips);
    EXPECT_EQ(settings.commandTimeout, 120u);
    EXPECT_EQ(settings.maxCommandRetries, 10u);
    EXPECT_EQ(settings.ftpConnections, 2u);
    EXPECT_TRUE(settings.isFtpConnectionTimeout);
    EXPECT_EQ(settings.ftpConnectionTimeoutSeconds, 999 * 60);
    EXPECT_EQ(connections, "/new/place/connections.txt");
}

TEST_F(SettingsDialogsTest, ConfigurationTimeoutBoxFollowsItsCheckBox) {
    ConfigurationSettings settings;
    settings.isFtpConnectionTimeout = false;
    std::string connections;
    ConfigurationDlg dialog(settings, connections);
    QCheckBox& check = child<QCheckBox>(dialog, "connectionTimeoutCheck");
    QLineEdit& minutes = edit(dialog, "connectionTimeoutEdit");
    EXPECT_FALSE(check.isChecked());
    EXPECT_FALSE(minutes.isEnabled());
    check.click();
    EXPECT_TRUE(minutes.isEnabled());
    check.click();
    EXPECT_FALSE(minutes.isEnabled());

    // Switched off, the box cannot be corrected and is not checked: its value stays.
    minutes.setText("0");
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted) << messages();
    EXPECT_FALSE(settings.isFtpConnectionTimeout);
    EXPECT_EQ(settings.ftpConnectionTimeoutSeconds, 10 * 60);
}

// ---- Batch List ----

class BatchDlgTest : public SettingsDialogsTest {
  protected:
    std::string profileFile(const std::string& name, int autoStart) {
        Profile profile;
        profile.auto_start = autoStart;
        const std::string path = (work_.path() / name).string();
        EXPECT_TRUE(profile.saveToFile(path));
        return path;
    }
    static std::vector<std::string> lines(BatchDlg& dialog) {
        std::vector<std::string> texts;
        auto& list = child<QListWidget>(dialog, "profileList");
        for (int row = 0; row < list.count(); ++row) {
            texts.push_back(list.item(row)->text().toStdString());
        }
        return texts;
    }

    FileSettingsStore store_{work_.path()};
};

TEST_F(BatchDlgTest, MoveAndRemoveButtonsFollowTheSelection) {
    struct Case {
        std::vector<int> selected;
        bool up;
        bool down;
        bool remove;
    };
    const Case cases[] = {
        {{}, false, false, false},       {{0}, false, true, true},     {{1}, true, true, true},
        {{2}, true, false, true},        {{0, 2}, false, false, true}, {{1, 2}, false, false, true},
        {{0, 1, 2}, false, false, true},
    };
    BatchList batch;
    batch.profilePaths = {"/p/a.kvp", "/p/b.kvp", "/p/c.kvp"};
    for (const Case& c : cases) {
        BatchDlg dialog(batch, &store_);
        auto& list = child<QListWidget>(dialog, "profileList");
        for (const int row : c.selected) {
            list.item(row)->setSelected(true);
        }
        const std::string which = ::testing::PrintToString(c.selected);
        EXPECT_EQ(child<QPushButton>(dialog, "moveUpButton").isEnabled(), c.up) << which;
        EXPECT_EQ(child<QPushButton>(dialog, "moveDownButton").isEnabled(), c.down) << which;
        EXPECT_EQ(child<QPushButton>(dialog, "removeButton").isEnabled(), c.remove) << which;
    }
    // One line only: it can go neither up nor down.
    batch.profilePaths = {"/p/a.kvp"};
    BatchDlg single(batch, &store_);
    child<QListWidget>(single, "profileList").item(0)->setSelected(true);
    EXPECT_FALSE(child<QPushButton>(single, "moveUpButton").isEnabled());
    EXPECT_FALSE(child<QPushButton>(single, "moveDownButton").isEnabled());
}

TEST_F(BatchDlgTest, AddFilesTakesOnlyProfilesThatStartByThemselves) {
    const std::string site = profileFile("site.kvp", 1);
    const std::string manual = profileFile("manual.kvp", 0);
    const std::string notProfile = (work_.path() / "notes.kvp").string();
    testsupport::writeFile(notProfile, "these are notes\n");
    store_.writeString("OpenPath", (work_.path() / "earlier.kvp").string());

    BatchList batch;
    batch.profilePaths = {"/p/first.kvp"};
    BatchDlg dialog(batch, &store_);
    files_.files = {site, manual, notProfile, site, (work_.path() / "missing.kvp").string()};
    child<QPushButton>(dialog, "addFilesButton").click();

    ASSERT_EQ(files_.calls.size(), 1u);
    EXPECT_EQ(files_.calls[0].kind, "openFiles");
    EXPECT_EQ(files_.calls[0].startPath, (work_.path() / "earlier.kvp").string());
    EXPECT_EQ(files_.calls[0].filter, "Kelvane profile (*.kvp)");
    EXPECT_EQ(files_.calls[0].defaultSuffix, "kvp");
    // The same profile may come twice; a file that cannot be opened is left out silently.
    EXPECT_EQ(lines(dialog), (std::vector<std::string>{"/p/first.kvp", site, site}));
    EXPECT_EQ(prompter_.messages,
              (std::vector<std::string>{
                  "The profile " + manual +
                      "\n must have Auto Start selected to be used as a batch profile",
                  notProfile + " is not a valid Kelvane profile"}));
    EXPECT_EQ(log_.lines.size(), 2u);
    EXPECT_EQ(log_.lines.front().rfind("BatchDlg::checkProfile: ", 0), 0u);
    // Several files chosen: their folder is where the next choice starts.
    EXPECT_EQ(store_.readString("OpenPath"), work_.path().string());
    EXPECT_TRUE(batch.profilePaths == std::vector<std::string>{"/p/first.kvp"});

    dialog.accept();
    EXPECT_EQ(batch.profilePaths, (std::vector<std::string>{"/p/first.kvp", site, site}));
    EXPECT_TRUE(batch.modified);
}

TEST_F(BatchDlgTest, MovesAndRemovalsReachTheBatchOnOkOnly) {
    BatchList batch;
    batch.profilePaths = {"/p/a.kvp", "/p/b.kvp", "/p/c.kvp", "/p/d.kvp"};
    {
        BatchDlg dialog(batch, &store_);
        child<QListWidget>(dialog, "profileList").item(0)->setSelected(true);
        child<QPushButton>(dialog, "moveDownButton").click();
        dialog.reject();
    }
    EXPECT_EQ(batch.profilePaths.front(), "/p/a.kvp");
    EXPECT_FALSE(batch.modified);

    BatchDlg dialog(batch, &store_);
    auto& list = child<QListWidget>(dialog, "profileList");
    list.item(3)->setSelected(true);
    child<QPushButton>(dialog, "moveUpButton").click();
    child<QPushButton>(dialog, "moveUpButton").click();
    // The line moved stays selected, so it can move on.
    EXPECT_EQ(list.selectedItems().size(), 1);
    EXPECT_EQ(list.row(list.selectedItems().front()), 1);
    EXPECT_EQ(lines(dialog),
              (std::vector<std::string>{"/p/a.kvp", "/p/d.kvp", "/p/b.kvp", "/p/c.kvp"}));
    list.clearSelection();
    list.item(0)->setSelected(true);
    list.item(2)->setSelected(true);
    child<QPushButton>(dialog, "removeButton").click();
    EXPECT_FALSE(child<QPushButton>(dialog, "removeButton").isEnabled());
    child<QDialogButtonBox>(dialog, "buttonBox").button(QDialogButtonBox::Ok)->click();

    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_EQ(batch.profilePaths, (std::vector<std::string>{"/p/d.kvp", "/p/c.kvp"}));
    EXPECT_TRUE(batch.modified);
}

}  // namespace
