// The connection manager, the edit dialog and the advanced settings: what each refuses and in
// which order, what New, Edit, Delete and the choice of a connection hand back to the caller,
// the questions about a live connection (against a real server), and one connection created
// in the manager that logs in.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "gui/DialogScripts.h"
#include "support/CommandGlobals.h"
#include "support/PyFtpdServer.h"
#include "support/TempFolder.h"
#include "transfer/ConnectionsFile.h"
#include "ui/ModalDialog.h"
#include "ui/QtMessagePump.h"
#include "ui/connections/ConnectionAdvancedDlg.h"
#include "ui/connections/ConnectionManagerDlg.h"
#include "ui/connections/EditConnectionDlg.h"

namespace {

namespace fs = std::filesystem;

const std::string kDuplicate =
    "That connection name has already been used, please enter an alternative";
const std::string kAnonymous =
    "An empty user name means Kelvane will login anonymously\n"
    "and this requires an email address to be provided";
const std::string kNoServer = "A server address must be provided eg. \"ftp.example.com\"";
const std::string kNoName = "A name for this connection must be provided eg. \"My Connection\"";
const std::string kByte202 = "The password contains a character (byte 202)";
const std::string kSlash = "A connection name cannot contain \"/\"";
const std::string kNoneSelected = "No connection selected to edit";
const std::string kNotFound = "Could not find any connection details";

template <typename Widget>
Widget& child(QWidget& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(name);
    if (widget == nullptr) {
        ADD_FAILURE() << "no " << name;
        throw std::runtime_error(name);
    }
    return *widget;
}

QLineEdit& edit(QWidget& dialog, const char* name) {
    return child<QLineEdit>(dialog, name);
}

QComboBox& combo(QWidget& dialog) {
    return child<QComboBox>(dialog, "connectionCombo");
}

std::vector<std::string> comboItems(QWidget& dialog) {
    std::vector<std::string> items;
    for (int index = 0; index < combo(dialog).count(); ++index) {
        items.push_back(combo(dialog).itemText(index).toStdString());
    }
    return items;
}

std::vector<std::string> namesOf(const ConnectionList& list) {
    std::vector<std::string> names;
    for (const auto& connection : list) {
        names.push_back(connection->name);
    }
    return names;
}

// The person chooses `name` in the drop-down list.
void choose(ConnectionManagerDlg& dialog, const QString& name) {
    combo(dialog).setCurrentIndex(combo(dialog).findText(name));
}

// What the person types into the edit dialog; fields left out keep what the dialog shows.
struct Typed {
    std::optional<QString> name, server, user, password, email;
};

void type(QDialog& dialog, const Typed& typed) {
    const std::pair<const char*, const std::optional<QString>*> boxes[] = {
        {"nameEdit", &typed.name},         {"serverEdit", &typed.server}, {"userEdit", &typed.user},
        {"passwordEdit", &typed.password}, {"emailEdit", &typed.email},
    };
    for (const auto& [box, text] : boxes) {
        if (text->has_value()) {
            edit(dialog, box).setText(**text);
        }
    }
}

class ConnectionDialogsTest : public guitest::DialogTest {
  protected:
    // What the person does in a dialog that another one opens; returns its result.
    using Step = std::function<int(QDialog&)>;

    void SetUp() override {
        DialogTest::SetUp();
        globals_.takeOver(10, 0, &prompter_);
        setMessagePump(&pump_);
        savedRunner_ = setModalRunner([this](QDialog& dialog) { return runStep(dialog); });
    }
    void TearDown() override {
        setModalRunner(savedRunner_);
        for (const auto& connection : connected_) {
            connection->disconnectFtp();
        }
        EXPECT_TRUE(steps_.empty()) << steps_.size() << " dialogs never opened";
        setMessagePump(nullptr);
        globals_.giveBack();
        DialogTest::TearDown();
    }
    static void TearDownTestSuite() { server_.reset(); }

    int runStep(QDialog& dialog) {
        opened_.push_back(dialog.windowTitle().toStdString());
        if (steps_.empty()) {
            ADD_FAILURE() << "\"" << opened_.back() << "\" opened unexpectedly";
            return QDialog::Rejected;
        }
        const Step step = std::move(steps_.front());
        steps_.pop_front();
        return step(dialog);
    }

    // Types into the edit dialog and presses OK; a refused entry is then cancelled.
    static Step enter(Typed typed) {
        return [typed](QDialog& dialog) {
            type(dialog, typed);
            dialog.accept();
            if (dialog.result() != QDialog::Accepted) {
                dialog.reject();
            }
            return dialog.result();
        };
    }
    static Step cancel() {
        return [](QDialog& dialog) {
            dialog.reject();
            return QDialog::Rejected;
        };
    }

    static std::shared_ptr<ConnectionDetails> details(const std::string& name,
                                                      const std::string& server,
                                                      const std::string& user = "web",
                                                      const std::string& email = "") {
        auto connection = std::make_shared<ConnectionDetails>();
        connection->name = name;
        connection->server = server;
        connection->user = user;
        connection->password = "secret";
        connection->email = email;
        connection->port = 21;
        connection->passive = true;
        return connection;
    }

    // A connection logged in to the loopback server (one server for the whole suite).
    std::shared_ptr<ConnectionDetails> loggedIn(const std::string& name) {
        auto connection = details(name, "", "");
        if (server_ == nullptr) {
            server_ = std::make_unique<testsupport::PyFtpdServer>();
            if (!server_->start()) {
                ADD_FAILURE() << server_->error();
            }
        }
        connection->server = server_->host();
        connection->port = server_->port();
        connection->user = server_->user();
        connection->password = server_->password();
        EXPECT_TRUE(connection->connectFtp()) << lastErrorText();
        connected_.push_back(connection);
        return connection;
    }

    std::string messages() const {
        std::string all;
        for (const std::string& message : prompter_.messages) {
            all += message + "|";
        }
        return all;
    }

    std::deque<Step> steps_;
    std::vector<std::string> opened_;
    std::vector<std::shared_ptr<ConnectionDetails>> connected_;
    testsupport::TempFolder work_{"kelvane-gui-connections"};
    static inline std::unique_ptr<testsupport::PyFtpdServer> server_;

  private:
    testsupport::CommandGlobals globals_;
    QtMessagePump pump_;
    ModalRunner savedRunner_;
};

// ---- Edit FTP Connection Details ----

TEST_F(ConnectionDialogsTest, EditDialogRefusesInTheDocumentedOrderAndChangesNothingThen) {
    // The connection is "Mine"; "Site" belongs to another connection.
    const std::set<std::string> others = {"Site"};
    struct Case {
        const char* what;
        Typed typed;
        std::string message;  // empty: accepted
    };
    const QString apostrophe = QString(QChar(0x02BC));  // UTF-8: CA BC
    const std::vector<Case> cases = {
        {"everything missing and a taken name", {"Site", "", "", "", ""}, kDuplicate},
        {"taken name, no server", {"Site", "", "web", "", ""}, kDuplicate},
        {"no user and no e-mail, no server", {"New", "", "", "", ""}, kAnonymous},
        {"anonymous with e-mail, no server", {"New", "", "", "", "me@example.org"}, kNoServer},
        {"no name last", {"", "", "web", "", ""}, kNoServer},
        {"no name", {"", "h.example", "web", "", ""}, kNoName},
        {"password with byte 202",
         {"New", "h.example", "web", "it" + apostrophe + "s", ""},
         kByte202},
        {"a \"/\" in the name", {"My/Site", "h.example", "web", "", ""}, kSlash},
        {"anonymous with e-mail", {"Open", "h.example", "", "", "me@example.org"}, ""},
        {"its own name", {"Mine", "h.example", "web", "pw", ""}, ""},
        {"a taken name with a blank in front, as typed", {" Site", "h", "web", "", ""}, ""},
        {"user and no e-mail", {"New", "h.example", "web", "", ""}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        prompter_.messages.clear();
        auto connection = details("Mine", "old.example", "old-user", "old@example.org");
        EditConnectionDlg dialog(others, connection);
        type(dialog, c.typed);
        dialog.accept();
        if (c.message.empty()) {
            EXPECT_EQ(messages(), "");
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(QString::fromStdString(connection->name), *c.typed.name);
            EXPECT_EQ(QString::fromStdString(connection->server), *c.typed.server);
            EXPECT_EQ(QString::fromStdString(connection->user), *c.typed.user);
            EXPECT_EQ(QString::fromStdString(connection->password), *c.typed.password);
            EXPECT_EQ(QString::fromStdString(connection->email), *c.typed.email);
        } else {
            ASSERT_EQ(prompter_.messages.size(), 1u) << messages();
            EXPECT_EQ(prompter_.messages[0].rfind(c.message, 0), 0u) << messages();
            EXPECT_NE(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(connection->name, "Mine");
            EXPECT_EQ(connection->server, "old.example");
            EXPECT_EQ(connection->user, "old-user");
            EXPECT_EQ(connection->password, "secret");
            EXPECT_EQ(connection->email, "old@example.org");
        }
        EXPECT_EQ(connection->port, 21);
        EXPECT_TRUE(connection->passive);
    }
}

TEST_F(ConnectionDialogsTest, EditDialogKeepsTheBytesOfAFieldLeftAsItWas) {
    // A password and a user name written by a machine that did not use UTF-8.
    auto connection = details("Latin", "old.example", "r\xE9gie");
    connection->password = "caf\xE9";
    EditConnectionDlg dialog({}, connection);
    type(dialog, {{}, "new.example", {}, {}, {}});
    dialog.accept();
    ASSERT_EQ(dialog.result(), QDialog::Accepted) << messages();
    EXPECT_EQ(connection->server, "new.example");
    EXPECT_EQ(connection->password, "caf\xE9");
    EXPECT_EQ(connection->user, "r\xE9gie");

    // What is typed anew is taken as UTF-8.
    EditConnectionDlg retyped({}, connection);
    type(retyped, {{}, {}, {}, QString::fromUtf8("caf\xC3\xA9"), {}});
    retyped.accept();
    EXPECT_EQ(connection->password, "caf\xC3\xA9");
}

// ---- FTP Connection Advanced Settings ----

TEST_F(ConnectionDialogsTest, AdvancedDialogTakesPortsFrom0To65535AndTheMode) {
    struct Case {
        const char* text;
        std::optional<std::uint16_t> port;  // none: refused with `message`
        std::string message;
    };
    const std::string range = "Please enter an integer between 0 and 65535.";
    const std::string notNumber = "Please enter a positive integer.";
    const std::vector<Case> cases = {
        {"0", 0, ""},           {"21", 21, ""},
        {" 2121 ", 2121, ""},   {"65535", 65535, ""},
        {"65536", {}, range},   {"4294967295", {}, range},
        {"-1", {}, notNumber},  {"", {}, notNumber},
        {"21x", {}, notNumber}, {"99999999999", {}, notNumber},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        prompter_.messages.clear();
        ConnectionAdvancedDlg dialog({990, false});
        EXPECT_EQ(edit(dialog, "portEdit").text(), "990");
        EXPECT_TRUE(child<QRadioButton>(dialog, "activeModeRadio").isChecked());
        edit(dialog, "portEdit").setText(c.text);
        child<QRadioButton>(dialog, "passiveModeRadio").setChecked(true);
        dialog.accept();
        if (c.port) {
            EXPECT_EQ(messages(), "");
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(dialog.settings().port, *c.port);
            EXPECT_TRUE(dialog.settings().passive);
        } else {
            EXPECT_EQ(messages(), c.message + "|");
            EXPECT_NE(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(dialog.settings().port, 990);
            EXPECT_FALSE(dialog.settings().passive);
        }
    }
}

TEST_F(ConnectionDialogsTest, AdvancedSettingsReachTheConnectionOnlyThroughBothOks) {
    const auto setPortAndMode = [](const char* port, bool passive) -> Step {
        return [port, passive](QDialog& dialog) {
            edit(dialog, "portEdit").setText(port);
            child<QRadioButton>(dialog, passive ? "passiveModeRadio" : "activeModeRadio")
                .setChecked(true);
            dialog.accept();
            return dialog.result();
        };
    };
    struct Case {
        const char* what;
        std::vector<Step> advanced;  // one step per press of Advanced
        bool editOk;
        std::uint16_t port;
        bool passive;
    };
    const std::vector<Case> cases = {
        {"OK in both", {setPortAndMode("2121", false)}, true, 2121, false},
        {"advanced cancelled", {cancel()}, true, 21, true},
        {"edit cancelled", {setPortAndMode("2121", false)}, false, 21, true},
        {"changed, then cancelled the second time",
         {setPortAndMode("0", false), cancel()},
         true,
         0,
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto connection = details("Mine", "h.example");
        EditConnectionDlg dialog({}, connection);
        for (const Step& step : c.advanced) {
            steps_.push_back(step);
            child<QPushButton>(dialog, "advancedButton").click();
        }
        if (c.editOk) {
            dialog.accept();
        } else {
            dialog.reject();
        }
        EXPECT_EQ(connection->port, c.port);
        EXPECT_EQ(connection->passive, c.passive);
        EXPECT_EQ(opened_.back(), "FTP Connection Advanced Settings");
    }
}

// ---- FTP Connection Manager ----

TEST_F(ConnectionDialogsTest, ManagerShowsTheNamesSortedAndTheActiveConnection) {
    ConnectionList list = {details("beta", "b.example", "bee"), details("", "nameless.example"),
                           details("Alpha", "a.example", "", "a@example.org"),
                           details("gamma", "g.example")};
    std::shared_ptr<ConnectionDetails> active = list[0];
    ConnectionManagerDlg dialog(list, active);
    EXPECT_EQ(comboItems(dialog), (std::vector<std::string>{"Alpha", "beta", "gamma"}));
    EXPECT_EQ(combo(dialog).currentText(), "beta");
    EXPECT_EQ(edit(dialog, "serverEdit").text(), "b.example");
    EXPECT_EQ(edit(dialog, "userEdit").text(), "bee");
    EXPECT_TRUE(edit(dialog, "serverEdit").isReadOnly());
    EXPECT_FALSE(dialog.modified());

    choose(dialog, "Alpha");
    EXPECT_EQ(edit(dialog, "serverEdit").text(), "a.example");
    EXPECT_EQ(edit(dialog, "userEdit").text(), "");
    EXPECT_EQ(edit(dialog, "emailEdit").text(), "a@example.org");
    EXPECT_EQ(dialog.selection(), list[2]);
    EXPECT_TRUE(dialog.modified());
    EXPECT_EQ(messages(), "");

    std::shared_ptr<ConnectionDetails> none;
    ConnectionManagerDlg empty(list, none);
    EXPECT_EQ(combo(empty).currentIndex(), -1);
    EXPECT_EQ(edit(empty, "serverEdit").text(), "");
}

TEST_F(ConnectionDialogsTest, ManagerHandsBackTheListAndTheChoiceOnlyOnOk) {
    struct Case {
        const char* what;
        std::function<void(ConnectionManagerDlg&)> act;
        bool ok;
        std::vector<std::string> comboAfter;  // while the dialog is open
        std::vector<std::string> callerList;  // after it closed
        std::string callerActive;             // empty: none
        bool modified;
    };
    using List = std::vector<std::string>;
    const List sorted = {"Alpha", "beta", "gamma"};
    const List original = {"beta", "Alpha", "gamma"};
    const auto pressNew = [this](Step step) {
        return [this, step](ConnectionManagerDlg& dialog) {
            steps_.push_back(step);
            child<QPushButton>(dialog, "newButton").click();
        };
    };
    const auto pressEdit = [this](Step step) {
        return [this, step](ConnectionManagerDlg& dialog) {
            steps_.push_back(step);
            child<QPushButton>(dialog, "editButton").click();
        };
    };
    const auto pressDelete = [](ConnectionManagerDlg& dialog) {
        child<QPushButton>(dialog, "deleteButton").click();
    };
    const Typed delta = {"delta", "d.example", "dee", "", ""};
    const Typed zeta = {"Zeta", {}, {}, {}, {}};
    const std::vector<Case> cases = {
        {"nothing, OK", [](auto&) {}, true, sorted, original, "beta", false},
        {"nothing, Cancel", [](auto&) {}, false, sorted, original, "beta", false},
        {"another chosen, OK", [](auto& d) { choose(d, "gamma"); }, true, sorted, original, "gamma",
         true},
        {"another chosen, Cancel", [](auto& d) { choose(d, "gamma"); }, false, sorted, original,
         "beta", true},
        {"New, OK",
         pressNew(enter(delta)),
         true,
         {"Alpha", "beta", "delta", "gamma"},
         {"beta", "Alpha", "gamma", "delta"},
         "delta",
         true},
        {"New, Cancel",
         pressNew(enter(delta)),
         false,
         {"Alpha", "beta", "delta", "gamma"},
         original,
         "beta",
         true},
        {"New cancelled, OK", pressNew(cancel()), true, sorted, original, "beta", false},
        {"New with a taken name, refused, OK", pressNew(enter({"Alpha", "x", "y", "", ""})), true,
         sorted, original, "beta", false},
        {"Edit renames, OK",
         pressEdit(enter(zeta)),
         true,
         {"Alpha", "gamma", "Zeta"},
         {"Zeta", "Alpha", "gamma"},
         "Zeta",
         true},
        // The edit is made on the shared object itself: Cancel does not take it back.
        {"Edit renames, Cancel",
         pressEdit(enter(zeta)),
         false,
         {"Alpha", "gamma", "Zeta"},
         {"Zeta", "Alpha", "gamma"},
         "Zeta",
         true},
        {"Edit to a taken name, refused, OK", pressEdit(enter({"gamma", {}, {}, {}, {}})), true,
         sorted, original, "beta", false},
        {"Delete, OK", pressDelete, true, {"Alpha", "gamma"}, {"Alpha", "gamma"}, "", true},
        {"Delete, Cancel", pressDelete, false, {"Alpha", "gamma"}, original, "beta", true},
        {"Delete, then New, OK",
         [&](ConnectionManagerDlg& d) {
             pressDelete(d);
             pressNew(enter(delta))(d);
         },
         true,
         {"Alpha", "delta", "gamma"},
         {"Alpha", "gamma", "delta"},
         "delta",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ConnectionList list = {details("beta", "b.example"), details("Alpha", "a.example"),
                               details("gamma", "g.example")};
        const ConnectionList before = list;
        std::shared_ptr<ConnectionDetails> active = list[0];
        ConnectionManagerDlg dialog(list, active);
        c.act(dialog);
        EXPECT_EQ(comboItems(dialog), c.comboAfter);
        const auto& selected = dialog.selection();
        EXPECT_EQ(combo(dialog).currentText().toStdString(), selected ? selected->name : "");
        EXPECT_EQ(edit(dialog, "serverEdit").text().toStdString(),
                  selected ? selected->server : "");
        if (c.ok) {
            dialog.accept();
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
        } else {
            dialog.reject();
            EXPECT_EQ(list, before) << "the caller's handles were changed";
        }
        EXPECT_EQ(namesOf(list), c.callerList);
        EXPECT_EQ(active ? active->name : "", c.callerActive);
        EXPECT_EQ(dialog.modified(), c.modified);
        EXPECT_TRUE(steps_.empty());
        steps_.clear();
        prompter_.messages.clear();
    }
}

TEST_F(ConnectionDialogsTest, ManagerSaysWhatItCannotDo) {
    struct Case {
        const char* what;
        bool withActive;
        std::function<void(ConnectionManagerDlg&)> act;
        std::vector<std::string> messages;
    };
    const auto press = [](const char* button) {
        return
            [button](ConnectionManagerDlg& dialog) { child<QPushButton>(dialog, button).click(); };
    };
    const std::vector<Case> cases = {
        {"Edit without a selection", false, press("editButton"), {kNoneSelected}},
        {"Delete without a selection", false, press("deleteButton"), {kNoneSelected}},
        {"Edit and Delete after the selection was deleted",
         true,
         [&](ConnectionManagerDlg& d) {
             press("deleteButton")(d);
             press("editButton")(d);
             press("deleteButton")(d);
         },
         {kNoneSelected, kNoneSelected}},
        // A name in the drop-down list that the list does not hold any more.
        {"a name the list does not hold",
         true,
         [&](ConnectionManagerDlg& d) {
             combo(d).addItem("Ghost", QByteArray("Ghost"));
             choose(d, "Ghost");
             press("editButton")(d);
             press("deleteButton")(d);
         },
         {kNotFound, kNotFound, kNotFound}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        prompter_.messages.clear();
        ConnectionList list = {details("beta", "b.example"), details("Alpha", "a.example")};
        std::shared_ptr<ConnectionDetails> active = c.withActive ? list[0] : nullptr;
        ConnectionManagerDlg dialog(list, active);
        c.act(dialog);
        EXPECT_EQ(prompter_.messages, c.messages);
        EXPECT_TRUE(opened_.empty()) << "an edit dialog opened";
    }
}

TEST_F(ConnectionDialogsTest, NewConnectionMessagesComeInOrderUntilTheEntryIsComplete) {
    ConnectionList list = {details("Site", "s.example")};
    std::shared_ptr<ConnectionDetails> active;
    ConnectionManagerDlg dialog(list, active);
    steps_.push_back([](QDialog& edit) {
        // Each press of OK mends what the last message asked for.
        const Typed entries[] = {{"Site", "", "", "", ""},
                                 {"", {}, {}, {}, {}},
                                 {{}, {}, "web", {}, {}},
                                 {{}, "h.example", {}, {}, {}},
                                 {"New Site", {}, {}, {}, {}}};
        for (const Typed& entry : entries) {
            type(edit, entry);
            edit.accept();
        }
        return edit.result();
    });
    child<QPushButton>(dialog, "newButton").click();
    EXPECT_EQ(prompter_.messages,
              (std::vector<std::string>{kDuplicate, kAnonymous, kNoServer, kNoName}));
    ASSERT_NE(dialog.selection(), nullptr);
    EXPECT_EQ(dialog.selection()->name, "New Site");
    EXPECT_EQ(dialog.selection()->port, 0);
    EXPECT_FALSE(dialog.selection()->passive);
    EXPECT_EQ(namesOf(dialog.connections()), (std::vector<std::string>{"Site", "New Site"}));
}

TEST_F(ConnectionDialogsTest, ARefusedEditLeavesTheListAndTheFileAsTheyWere) {
    const fs::path file = work_.path() / "KelvaneConnections.txt";
    ASSERT_TRUE(
        saveConnections(file, {details("Site", "s.example"), details("Other", "o.example")}));
    const std::string before = testsupport::readFile(file);
    const auto writtenAt = fs::last_write_time(file);
    ConnectionList list = loadConnections(file);
    const ConnectionList handles = list;
    std::shared_ptr<ConnectionDetails> active = list[0];

    steps_.push_back([](QDialog& manager) {
        auto& dialog = static_cast<ConnectionManagerDlg&>(manager);
        child<QPushButton>(dialog, "editButton").click();
        dialog.accept();
        return dialog.result();
    });
    steps_.push_back(enter({"Other", "changed.example", "", "", ""}));
    const auto outcome = ConnectionManagerDlg::manage(list, active, file, nullptr);

    EXPECT_TRUE(outcome.accepted);
    EXPECT_FALSE(outcome.modified);
    EXPECT_EQ(messages(), kDuplicate + "|");
    EXPECT_EQ(list, handles);
    EXPECT_EQ(active, handles[0]);
    EXPECT_EQ(list[0]->name, "Site");
    EXPECT_EQ(list[0]->server, "s.example");
    EXPECT_EQ(list[0]->user, "web");
    EXPECT_EQ(testsupport::readFile(file), before);
    EXPECT_EQ(fs::last_write_time(file), writtenAt) << "the file was written again";
}

TEST_F(ConnectionDialogsTest, ManageSavesAfterOkWithAChangeOnly) {
    struct Case {
        const char* what;
        Step manager;
        bool saved;
    };
    const auto pressThen = [](const char* button, bool ok) -> Step {
        return [button, ok](QDialog& manager) {
            if (button != nullptr) {
                child<QPushButton>(manager, button).click();
            }
            ok ? manager.accept() : manager.reject();
            return manager.result();
        };
    };
    const std::vector<Case> cases = {
        {"OK without a change", pressThen(nullptr, true), false},
        {"Delete, Cancel", pressThen("deleteButton", false), false},
        {"Delete, OK", pressThen("deleteButton", true), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const fs::path file = work_.path() / (std::string(c.what) + ".txt");
        ConnectionList list = {details("Site", "s.example"), details("Other", "o.example")};
        std::shared_ptr<ConnectionDetails> active = list[0];
        steps_.push_back(c.manager);
        ConnectionManagerDlg::manage(list, active, file, nullptr);
        EXPECT_EQ(fs::exists(file), c.saved);
        if (c.saved) {
            EXPECT_EQ(namesOf(loadConnections(file)), std::vector<std::string>{"Other"});
            EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                      fs::perms::owner_read | fs::perms::owner_write);
        }
    }

    // A file that cannot be written is reported, and the list is the caller's all the same.
    ConnectionList list = {details("Site", "s.example")};
    std::shared_ptr<ConnectionDetails> active = list[0];
    steps_.push_back(pressThen("deleteButton", true));
    ConnectionManagerDlg::manage(list, active, work_.path() / "missing" / "folder" / "c.txt",
                                 nullptr);
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(messages().rfind("Unable to save modified connection details", 0), 0u) << messages();
}

// ---- A live connection ----

TEST_F(ConnectionDialogsTest, ManagerAsksBeforeItBreaksALiveConnection) {
    struct Case {
        const char* what;
        std::function<void(ConnectionManagerDlg&)> act;
        bool answer;
        std::string question;
        bool stillConnected;
        std::string selectionAfter;  // empty: none
    };
    const auto press = [](const char* button) {
        return
            [button](ConnectionManagerDlg& dialog) { child<QPushButton>(dialog, button).click(); };
    };
    const std::string plain = "Break current connection?";
    const std::string named = "Break current connection to Live?";
    const std::vector<Case> cases = {
        {"choose another, No", [](auto& d) { choose(d, "Other"); }, false, plain, true, "Live"},
        {"choose another, Yes", [](auto& d) { choose(d, "Other"); }, true, plain, false, "Other"},
        {"New, No", press("newButton"), false, named, true, "Live"},
        {"Edit, No", press("editButton"), false, plain, true, "Live"},
        {"Delete, No", press("deleteButton"), false, plain, true, "Live"},
        {"Delete, Yes", press("deleteButton"), true, plain, false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        prompter_.questions.clear();
        ConnectionList list = {loggedIn("Live"), details("Other", "o.example")};
        std::shared_ptr<ConnectionDetails> active = list[0];
        ConnectionManagerDlg dialog(list, active);
        prompter_.answers = {c.answer};
        c.act(dialog);
        EXPECT_EQ(prompter_.questions, std::vector<std::string>{c.question});
        EXPECT_EQ(list[0]->isConnected(), c.stillConnected);
        EXPECT_EQ(dialog.selection() ? dialog.selection()->name : "", c.selectionAfter);
        EXPECT_EQ(combo(dialog).currentText().toStdString(), c.selectionAfter);
        EXPECT_TRUE(opened_.empty()) << "a dialog opened after No";
        EXPECT_EQ(messages(), "");
        list[0]->disconnectFtp();
    }
}

// Every command of the manager first breaks the chosen connection, so the active one is
// connected beside another choice only when something else connected it while the manager was
// open (the main window's timers still run then).
TEST_F(ConnectionDialogsTest, ALiveConnectionBesideAnotherChoiceIsQuestionedAndReported) {
    ConnectionList list = {details("Other", "o.example"), loggedIn("Live"), loggedIn("Second")};
    std::shared_ptr<ConnectionDetails> active = list[1];
    ConnectionManagerDlg dialog(list, active);
    EXPECT_EQ(messages(), "");
    prompter_.answers = {true};
    choose(dialog, "Other");
    EXPECT_EQ(prompter_.questions, std::vector<std::string>{"Break current connection?"});
    EXPECT_FALSE(active->isConnected());

    ASSERT_TRUE(active->connectFtp()) << lastErrorText();
    choose(dialog, "Second");  // "Other" is not connected: nothing to ask
    EXPECT_EQ(prompter_.questions.size(), 1u);
    EXPECT_EQ(messages(), "Two connections flagged as connected|");
    prompter_.answers = {true};
    choose(dialog, "Other");
    EXPECT_FALSE(list[2]->isConnected());
    prompter_.questions.clear();

    prompter_.answers = {false};
    dialog.accept();
    EXPECT_EQ(prompter_.questions, std::vector<std::string>{"Break current connection to Live?"});
    EXPECT_NE(dialog.result(), QDialog::Accepted) << "No keeps the dialog open";
    EXPECT_EQ(active, list[1]);
    EXPECT_TRUE(active->isConnected());

    prompter_.answers = {true};
    dialog.accept();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_FALSE(list[1]->isConnected());
    EXPECT_EQ(active, list[0]);
}

TEST_F(ConnectionDialogsTest, AConnectionCreatedInTheManagerIsSavedAndLogsIn) {
    // The details of a login that works, taken from a probe of the server.
    auto& probe = *loggedIn("Probe");
    probe.disconnectFtp();
    const fs::path file = work_.path() / "config" / "KelvaneConnections.txt";
    fs::create_directories(file.parent_path());
    ConnectionList list = {details("Elsewhere", "elsewhere.example")};
    std::shared_ptr<ConnectionDetails> active;

    steps_.push_back([](QDialog& manager) {
        child<QPushButton>(manager, "newButton").click();
        manager.accept();
        return manager.result();
    });
    steps_.push_back([&probe](QDialog& edit) {
        type(edit,
             {"Local Server", QString::fromStdString(probe.server),
              QString::fromStdString(probe.user), QString::fromStdString(probe.password), ""});
        child<QPushButton>(edit, "advancedButton").click();
        edit.accept();
        return edit.result();
    });
    steps_.push_back([&probe](QDialog& advanced) {
        edit(advanced, "portEdit").setText(QString::number(probe.port));
        child<QRadioButton>(advanced, "passiveModeRadio").setChecked(true);
        advanced.accept();
        return advanced.result();
    });
    const auto outcome = ConnectionManagerDlg::manage(list, active, file, nullptr);

    ASSERT_TRUE(outcome.accepted);
    EXPECT_TRUE(outcome.modified);
    EXPECT_EQ(messages(), "");
    EXPECT_EQ(opened_,
              (std::vector<std::string>{"FTP Connection Manager", "Edit FTP Connection Details",
                                        "FTP Connection Advanced Settings"}));
    ASSERT_NE(active, nullptr);
    EXPECT_EQ(active->name, "Local Server");
    EXPECT_EQ(list.back(), active);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // What the file holds logs in, as the next start of the program would.
    const ConnectionList stored = loadConnections(file);
    EXPECT_EQ(namesOf(stored), (std::vector<std::string>{"Elsewhere", "Local Server"}));
    const auto reloaded = findConnection(stored, "Local Server");
    ASSERT_NE(reloaded, nullptr);
    EXPECT_EQ(reloaded->port, probe.port);
    EXPECT_TRUE(reloaded->passive);
    EXPECT_EQ(reloaded->password, probe.password);
    connected_.push_back(reloaded);
    ASSERT_TRUE(reloaded->connectFtp()) << lastErrorText();
    std::string directory;
    EXPECT_TRUE(reloaded->printWorkingDirectory(directory));
    EXPECT_EQ(directory, "/");
}

TEST_F(ConnectionDialogsTest, TooltipsFollowTheSetting) {
    for (const bool on : {true, false}) {
        SCOPED_TRACE(on ? "tooltips on" : "tooltips off");
        setShowTooltips(on);
        ConnectionList list;
        std::shared_ptr<ConnectionDetails> active;
        ConnectionManagerDlg manager(list, active);
        EditConnectionDlg editDialog({}, details("Site", "s.example"));
        ConnectionAdvancedDlg advanced({});
        const auto tip = [on](const char* text) { return on ? QString(text) : QString(); };
        EXPECT_EQ(combo(manager).toolTip(), tip("Descriptive name of the connection"));
        EXPECT_EQ(edit(manager, "serverEdit").toolTip(), tip("Server address eg. ftp.example.com"));
        EXPECT_EQ(child<QPushButton>(manager, "deleteButton").toolTip(),
                  tip("Permanently delete the current connection details"));
        EXPECT_EQ(edit(editDialog, "serverEdit").toolTip(),
                  tip("Server address eg. ftp.example.com"));
        EXPECT_EQ(edit(editDialog, "passwordEdit").toolTip(), tip("Your FTP password"));
        EXPECT_EQ(child<QRadioButton>(advanced, "passiveModeRadio").toolTip(),
                  tip("Select active or passive mode (active is normal)"));
    }
}

}  // namespace
