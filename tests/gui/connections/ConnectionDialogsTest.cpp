// The connection manager, the edit dialog and the advanced settings: what each refuses and in
// which order, what New, Edit, Delete and the choice of a connection hand back to the caller,
// the questions about a live connection, and a connection made in the manager that logs in.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <deque>
#include <functional>
#include <optional>

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
const std::string kNoneSelected = "No connection selected to edit";
const std::string kNotFound = "Could not find any connection details";

template <typename Widget = QLineEdit>
Widget& child(QWidget& dialog, const char* name) {
    auto* widget = dialog.findChild<Widget*>(name);
    if (widget == nullptr) {
        ADD_FAILURE() << "no " << name;
        throw std::runtime_error(name);
    }
    return *widget;
}

QComboBox& combo(QWidget& dialog) {
    return child<QComboBox>(dialog, "connectionCombo");
}

void press(QWidget& dialog, const char* button) {
    child<QPushButton>(dialog, button).click();
}

// The person chooses `name` in the drop-down list.
void choose(QWidget& dialog, const QString& name) {
    combo(dialog).setCurrentIndex(combo(dialog).findText(name));
}

std::string comboItems(QWidget& dialog) {
    std::string items;
    for (int index = 0; index < combo(dialog).count(); ++index) {
        items += (index > 0 ? "," : "") + combo(dialog).itemText(index).toStdString();
    }
    return items;
}

std::string namesOf(const ConnectionList& list) {
    std::string names;
    for (const auto& connection : list) {
        names += (names.empty() ? "" : ",") + connection->name;
    }
    return names;
}

// The stored fields in one line, to compare whole records.
std::string fieldsOf(const ConnectionDetails& c) {
    return c.name + "|" + c.server + "|" + c.user + "|" + c.password + "|" + c.email + "|" +
           std::to_string(c.port) + "|" + (c.passive ? "passive" : "active");
}

// What the person types into the edit dialog; fields left out keep what the dialog shows.
struct Typed {
    std::optional<QString> name, server, user, password, email;
};

void type(QWidget& dialog, const Typed& typed) {
    const std::pair<const char*, const std::optional<QString>*> boxes[] = {
        {"nameEdit", &typed.name},         {"serverEdit", &typed.server}, {"userEdit", &typed.user},
        {"passwordEdit", &typed.password}, {"emailEdit", &typed.email},
    };
    for (const auto& [box, text] : boxes) {
        if (text->has_value()) {
            child(dialog, box).setText(**text);
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
        savedRunner_ = setModalRunner([this](QDialog& dialog) {
            opened_.push_back(dialog.windowTitle().toStdString());
            if (steps_.empty()) {
                ADD_FAILURE() << "\"" << opened_.back() << "\" opened unexpectedly";
                return int(QDialog::Rejected);
            }
            const Step step = std::move(steps_.front());
            steps_.pop_front();
            return step(dialog);
        });
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
            return int(QDialog::Rejected);
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
        if (server_ == nullptr) {
            server_ = std::make_unique<testsupport::PyFtpdServer>();
            EXPECT_TRUE(server_->start()) << server_->error();
        }
        auto connection = details(name, server_->host(), server_->user());
        connection->port = server_->port();
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
        {"no name, no server", {"", "", "web", "", ""}, kNoServer},
        {"no name", {"", "h.example", "web", "", ""}, kNoName},
        {"byte 202",
         {"New", "h", "web", "it" + apostrophe + "s", ""},
         "The password contains a character (byte 202)"},
        {"a \"/\" in the name",
         {"My/Site", "h", "web", "", ""},
         "A connection name cannot contain \"/\""},
        // Pasted text may carry line breaks, which would split the record in the file.
        {"a line break",
         {"New", "h\nEndRecord=", "web", "", ""},
         "The server address contains a line break"},
        {"anonymous with e-mail", {"Open", "h.example", "", "", "me@example.org"}, ""},
        {"its own name", {"Mine", "h.example", "web", "pw", ""}, ""},
        {"a taken name with a blank in front, as typed", {" Site", "h", "web", "", ""}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        prompter_.messages.clear();
        auto connection = details("Mine", "old.example", "old-user", "old@example.org");
        const std::string before = fieldsOf(*connection);
        EditConnectionDlg dialog({"Site"}, connection);
        type(dialog, c.typed);
        dialog.accept();
        if (c.message.empty()) {
            EXPECT_EQ(messages(), "");
            EXPECT_EQ(dialog.result(), QDialog::Accepted);
            const Typed& t = c.typed;
            EXPECT_EQ(QString::fromStdString(fieldsOf(*connection)),
                      *t.name + "|" + *t.server + "|" + *t.user + "|" + *t.password + "|" +
                          *t.email + "|21|passive");
        } else {
            EXPECT_EQ(prompter_.messages.size(), 1u) << messages();
            EXPECT_EQ(messages().rfind(c.message, 0), 0u) << messages();
            EXPECT_NE(dialog.result(), QDialog::Accepted);
            EXPECT_EQ(fieldsOf(*connection), before);
        }
    }
}

TEST_F(ConnectionDialogsTest, EditDialogKeepsTheBytesOfAFieldLeftAsItWas) {
    // A password and a user name written by a machine that did not use UTF-8.
    auto connection = details("Latin", "old.example", "r\xE9gie");
    connection->password = "caf\xE9";
    EditConnectionDlg dialog({}, connection);
    type(dialog, {{}, "new.example", {}, {}, {}});
    dialog.accept();
    EXPECT_EQ(fieldsOf(*connection), "Latin|new.example|r\xE9gie|caf\xE9||21|passive");

    // What is typed anew is taken as UTF-8.
    EditConnectionDlg retyped({}, connection);
    type(retyped, {{}, {}, {}, QString::fromUtf8("caf\xC3\xA9"), {}});
    retyped.accept();
    EXPECT_EQ(connection->password, "caf\xC3\xA9");
}

// ---- FTP Connection Advanced Settings ----

TEST_F(ConnectionDialogsTest, AdvancedDialogTakesPortsFrom0To65535AndTheMode) {
    const std::string range = "Please enter an integer between 0 and 65535.|";
    const std::string notNumber = "Please enter a positive integer.|";
    struct Case {
        const char* text;
        std::uint16_t port;   // taken; 990 (unchanged) when refused
        std::string message;  // empty: taken
    };
    const Case cases[] = {
        {"0", 0, ""},           {" 2121 ", 2121, ""},       {"65535", 65535, ""},
        {"65536", 990, range},  {"4294967295", 990, range}, {"99999999999", 990, notNumber},
        {"-1", 990, notNumber}, {"", 990, notNumber},       {"21x", 990, notNumber},
    };
    for (const auto& [text, port, message] : cases) {
        SCOPED_TRACE(text);
        prompter_.messages.clear();
        ConnectionAdvancedDlg dialog({990, false, ftp::TlsMode::Off, {}});
        EXPECT_EQ(child(dialog, "portEdit").text(), "990");
        EXPECT_TRUE(child<QRadioButton>(dialog, "activeModeRadio").isChecked());
        child(dialog, "portEdit").setText(text);
        child<QRadioButton>(dialog, "passiveModeRadio").setChecked(true);
        dialog.accept();
        EXPECT_EQ(messages(), message);
        EXPECT_EQ(dialog.result() == QDialog::Accepted, message.empty());
        EXPECT_EQ(dialog.settings().port, port);
        EXPECT_EQ(dialog.settings().passive, message.empty());
    }
}

TEST_F(ConnectionDialogsTest, AdvancedDialogSetsTheEncryptionAndForgetsATrustedCertificate) {
    const std::string pin = ftp::formatFingerprint(std::string(64, 'E'));
    ConnectionAdvancedDlg dialog({21, true, ftp::TlsMode::Offered, pin});
    auto& tls = child<QComboBox>(dialog, "tlsCombo");
    EXPECT_EQ(tls.currentText(), "When the server offers it");
    EXPECT_EQ(child(dialog, "certificateEdit").text().toStdString(), pin);
    tls.setCurrentIndex(1);
    press(dialog, "forgetCertificateButton");
    EXPECT_EQ(child(dialog, "certificateEdit").text(), "None");
    EXPECT_FALSE(child<QPushButton>(dialog, "forgetCertificateButton").isEnabled());
    dialog.accept();
    EXPECT_EQ(dialog.settings().tlsMode, ftp::TlsMode::Required);
    EXPECT_EQ(dialog.settings().tlsFingerprint, "");

    // What the edit dialog hands over and takes back, and what a new connection starts with.
    auto connection = details("Mine", "h.example");
    connection->tlsFingerprint = pin;
    EditConnectionDlg edit({}, connection);
    EXPECT_EQ(edit.advancedSettings().tlsMode, ftp::TlsMode::Off);
    EXPECT_EQ(edit.advancedSettings().tlsFingerprint, pin);
    steps_.push_back([](QDialog& advanced) {
        child<QComboBox>(advanced, "tlsCombo").setCurrentIndex(2);
        advanced.accept();
        return advanced.result();
    });
    press(edit, "advancedButton");
    edit.accept();
    EXPECT_EQ(connection->tlsMode, ftp::TlsMode::Offered);
    EXPECT_EQ(connection->tlsFingerprint, pin);
}

TEST_F(ConnectionDialogsTest, AdvancedSettingsReachTheConnectionOnlyWithTheEditDialogsOk) {
    auto connection = details("Mine", "h.example");
    EditConnectionDlg dialog({}, connection);
    steps_.push_back([](QDialog& advanced) {
        child(advanced, "portEdit").setText("2121");
        child<QRadioButton>(advanced, "activeModeRadio").setChecked(true);
        advanced.accept();
        return advanced.result();
    });
    steps_.push_back(cancel());
    press(dialog, "advancedButton");
    press(dialog, "advancedButton");  // cancelled: the values of the first stay
    EXPECT_EQ(dialog.advancedSettings().port, 2121);
    EXPECT_FALSE(dialog.advancedSettings().passive);
    dialog.reject();
    EXPECT_EQ(fieldsOf(*connection), "Mine|h.example|web|secret||21|passive");
}

// ---- FTP Connection Manager ----

TEST_F(ConnectionDialogsTest, ManagerShowsTheNamesSortedAndTheChosenConnection) {
    ConnectionList list = {details("beta", "b.example", "bee"), details("", "nameless.example"),
                           details("Alpha", "a.example", "", "a@example.org"),
                           details("Caf\xE9", "cafe.example"), details("gamma", "g.example")};
    std::shared_ptr<ConnectionDetails> active = list[0];
    ConnectionManagerDlg dialog(list, active);
    const std::string cafe = QString::fromStdString("Caf\xE9").toStdString();
    EXPECT_EQ(comboItems(dialog), "Alpha,beta," + cafe + ",gamma");
    EXPECT_EQ(combo(dialog).currentText(), "beta");
    EXPECT_EQ(child(dialog, "serverEdit").text() + "|" + child(dialog, "userEdit").text(),
              "b.example|bee");
    EXPECT_TRUE(child(dialog, "serverEdit").isReadOnly());
    EXPECT_FALSE(dialog.modified());

    choose(dialog, "Alpha");
    EXPECT_EQ(dialog.selection(), list[2]);
    EXPECT_EQ(child(dialog, "userEdit").text() + "|" + child(dialog, "emailEdit").text(),
              "|a@example.org");
    EXPECT_TRUE(dialog.modified());
    // A name written by a machine that did not use UTF-8 is found as it is stored.
    choose(dialog, QString::fromStdString(cafe));
    EXPECT_EQ(dialog.selection(), list[3]);
    EXPECT_EQ(messages(), "");

    std::shared_ptr<ConnectionDetails> none;
    ConnectionManagerDlg empty(list, none);
    EXPECT_EQ(combo(empty).currentIndex(), -1);
    EXPECT_EQ(child(empty, "serverEdit").text(), "");
}

TEST_F(ConnectionDialogsTest, ManagerHandsBackTheListAndTheChoiceOnlyOnOk) {
    struct Case {
        const char* what;
        std::function<void(QWidget&)> act;
        bool ok;
        std::string combo;   // the drop-down list while the dialog is open
        std::string list;    // the caller's list after it closed
        std::string active;  // the caller's active connection; empty: none
        bool modified;
    };
    // Presses `button`; `step` answers the edit dialog it opens.
    const auto with = [this](const char* button, Step step) {
        return [this, button, step](QWidget& dialog) {
            steps_.push_back(step);
            press(dialog, button);
        };
    };
    const auto remove = [](QWidget& d) { press(d, "deleteButton"); };
    const auto chooseGamma = [](QWidget& d) { choose(d, "gamma"); };
    const auto nothing = [](QWidget&) {};
    const Step delta = enter({"delta", "d.example", "dee", "", ""});
    const Step zeta = enter({"Zeta", {}, {}, {}, {}});
    const char* sorted = "Alpha,beta,gamma";
    const char* original = "beta,Alpha,gamma";
    const std::vector<Case> cases = {
        {"nothing, OK", nothing, true, sorted, original, "beta", false},
        {"nothing, Cancel", nothing, false, sorted, original, "beta", false},
        {"another chosen, OK", chooseGamma, true, sorted, original, "gamma", true},
        {"another chosen, Cancel", chooseGamma, false, sorted, original, "beta", true},
        {"New, OK", with("newButton", delta), true, "Alpha,beta,delta,gamma",
         "beta,Alpha,gamma,delta", "delta", true},
        {"New, Cancel", with("newButton", delta), false, "Alpha,beta,delta,gamma", original, "beta",
         true},
        {"New cancelled, OK", with("newButton", cancel()), true, sorted, original, "beta", false},
        {"New with a taken name, refused", with("newButton", enter({"Alpha", "x", "y", "", ""})),
         true, sorted, original, "beta", false},
        {"Edit renames, OK", with("editButton", zeta), true, "Alpha,gamma,Zeta", "Zeta,Alpha,gamma",
         "Zeta", true},
        // The edit is made on the shared object itself: Cancel does not take it back.
        {"Edit renames, Cancel", with("editButton", zeta), false, "Alpha,gamma,Zeta",
         "Zeta,Alpha,gamma", "Zeta", true},
        {"Edit to a taken name, refused", with("editButton", enter({"gamma", {}, {}, {}, {}})),
         true, sorted, original, "beta", false},
        {"Delete, OK", remove, true, "Alpha,gamma", "Alpha,gamma", "", true},
        {"Delete, Cancel", remove, false, "Alpha,gamma", original, "beta", true},
        {"Delete, then New, OK",
         [&](QWidget& d) {
             remove(d);
             with("newButton", delta)(d);
         },
         true, "Alpha,delta,gamma", "Alpha,gamma,delta", "delta", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ConnectionList list = {details("beta", "b.example"), details("Alpha", "a.example"),
                               details("gamma", "g.example")};
        const ConnectionList before = list;
        std::shared_ptr<ConnectionDetails> active = list[0];
        ConnectionManagerDlg dialog(list, active);
        c.act(dialog);
        EXPECT_EQ(comboItems(dialog), c.combo);
        const auto& chosen = dialog.selection();
        EXPECT_EQ(combo(dialog).currentText() + "|" + child(dialog, "serverEdit").text(),
                  QString::fromStdString(chosen ? chosen->name + "|" + chosen->server : "|"));
        c.ok ? dialog.accept() : dialog.reject();
        EXPECT_EQ(dialog.result(), c.ok ? QDialog::Accepted : QDialog::Rejected);
        if (!c.ok) {
            EXPECT_EQ(list, before) << "the caller's handles were changed";
        }
        EXPECT_EQ(namesOf(list), c.list);
        EXPECT_EQ(active ? active->name : "", c.active);
        EXPECT_EQ(dialog.modified(), c.modified);
        steps_.clear();
        prompter_.messages.clear();
    }
}

TEST_F(ConnectionDialogsTest, ManagerMessagesComeInTheDocumentedOrder) {
    struct Case {
        const char* what;
        bool withActive;
        std::function<void(QWidget&)> act;
        std::vector<std::string> messages;
    };
    const std::vector<Case> cases = {
        {"Edit without a selection",
         false,
         [](QWidget& d) { press(d, "editButton"); },
         {kNoneSelected}},
        {"Delete without a selection",
         false,
         [](QWidget& d) { press(d, "deleteButton"); },
         {kNoneSelected}},
        {"Edit and Delete after the selection was deleted",
         true,
         [](QWidget& d) {
             for (const char* button : {"deleteButton", "editButton", "deleteButton"}) {
                 press(d, button);
             }
         },
         {kNoneSelected, kNoneSelected}},
        {"a name the list does not hold",
         true,
         [](QWidget& d) {
             combo(d).addItem("Ghost", QByteArray("Ghost"));
             choose(d, "Ghost");
             press(d, "editButton");
             press(d, "deleteButton");
         },
         {kNotFound, kNotFound, kNotFound}},
        // Each press of OK in the edit dialog mends what the last message asked for.
        {"New until the entry is complete",
         false,
         [this](QWidget& d) {
             steps_.push_back([](QDialog& edit) {
                 const Typed entries[] = {{"beta", "", "", "", ""},
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
             press(d, "newButton");
             // A new connection starts with the default port and active mode.
             const auto& chosen = static_cast<ConnectionManagerDlg&>(d).selection();
             EXPECT_EQ(chosen ? fieldsOf(*chosen) : "", "New Site|h.example|web|||0|active");
         },
         {kDuplicate, kAnonymous, kNoServer, kNoName}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        prompter_.messages.clear();
        ConnectionList list = {details("beta", "b.example"), details("Alpha", "a.example")};
        std::shared_ptr<ConnectionDetails> active = c.withActive ? list[0] : nullptr;
        ConnectionManagerDlg dialog(list, active);
        c.act(dialog);
        EXPECT_EQ(prompter_.messages, c.messages);
    }
    EXPECT_EQ(opened_, std::vector<std::string>{"Edit FTP Connection Details"});
}

TEST_F(ConnectionDialogsTest, ARefusedEditLeavesTheListAndTheFileAsTheyWere) {
    const fs::path file = work_.path() / "KelvaneConnections.txt";
    ASSERT_TRUE(
        saveConnections(file, {details("Site", "s.example"), details("Other", "o.example")}));
    const std::string before = testsupport::readFile(file);
    const auto writtenAt = fs::last_write_time(file);
    ConnectionList list = loadConnections(file);
    const ConnectionList handles = list;
    const std::string fields = fieldsOf(*list[0]);
    std::shared_ptr<ConnectionDetails> active = list[0];

    steps_.push_back([](QDialog& manager) {
        press(manager, "editButton");
        manager.accept();
        return manager.result();
    });
    steps_.push_back(enter({"Other", "changed.example", "", "", ""}));
    const auto outcome = ConnectionManagerDlg::manage(list, active, file, nullptr);

    EXPECT_TRUE(outcome.accepted);
    EXPECT_FALSE(outcome.modified);
    EXPECT_EQ(messages(), kDuplicate + "|");
    EXPECT_EQ(list, handles);
    EXPECT_EQ(active, handles[0]);
    EXPECT_EQ(fieldsOf(*list[0]), fields);
    EXPECT_EQ(testsupport::readFile(file), before);
    EXPECT_EQ(fs::last_write_time(file), writtenAt) << "the file was written again";
}

// ---- A live connection ----

TEST_F(ConnectionDialogsTest, ManagerAsksBeforeItBreaksALiveConnection) {
    struct Case {
        const char* what;
        std::function<void(QWidget&)> act;
        bool answer;
        std::string question;
        bool stillConnected;
        std::string chosenAfter;  // empty: none
    };
    const auto pressing = [](const char* button) {
        return [button](QWidget& d) { press(d, button); };
    };
    const auto chooseOther = [](QWidget& d) { choose(d, "Other"); };
    const std::string plain = "Break current connection?";
    const std::vector<Case> cases = {
        {"choose another, No", chooseOther, false, plain, true, "Live"},
        {"choose another, Yes", chooseOther, true, plain, false, "Other"},
        {"New, No", pressing("newButton"), false, "Break current connection to Live?", true,
         "Live"},
        {"Edit, No", pressing("editButton"), false, plain, true, "Live"},
        {"Delete, No", pressing("deleteButton"), false, plain, true, "Live"},
        {"Delete, Yes", pressing("deleteButton"), true, plain, false, ""},
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
        EXPECT_EQ(dialog.selection() ? dialog.selection()->name : "", c.chosenAfter);
        EXPECT_EQ(combo(dialog).currentText().toStdString(), c.chosenAfter);
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
    prompter_.answers = {true};
    choose(dialog, "Other");
    EXPECT_FALSE(active->isConnected());

    ASSERT_TRUE(active->connectFtp()) << lastErrorText();
    choose(dialog, "Second");  // "Other" is not connected: nothing to ask
    EXPECT_EQ(prompter_.questions, std::vector<std::string>{"Break current connection?"});
    EXPECT_EQ(messages(), "Two connections flagged as connected|");
    prompter_.answers = {true};
    choose(dialog, "Other");
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
    const fs::path file = work_.path() / "KelvaneConnections.txt";
    ConnectionList list = {details("Elsewhere", "elsewhere.example")};
    std::shared_ptr<ConnectionDetails> active;

    steps_.push_back([](QDialog& manager) {
        press(manager, "newButton");
        manager.accept();
        return manager.result();
    });
    steps_.push_back([&probe](QDialog& edit) {
        type(edit,
             {"Local Server", QString::fromStdString(probe.server),
              QString::fromStdString(probe.user), QString::fromStdString(probe.password), ""});
        press(edit, "advancedButton");
        edit.accept();
        return edit.result();
    });
    steps_.push_back([&probe](QDialog& advanced) {
        child(advanced, "portEdit").setText(QString::number(probe.port));
        child<QRadioButton>(advanced, "passiveModeRadio").setChecked(true);
        // A new connection requires TLS; this server has none.
        auto& tls = child<QComboBox>(advanced, "tlsCombo");
        EXPECT_EQ(tls.currentText(), "Required");
        tls.setCurrentIndex(0);
        advanced.accept();
        return advanced.result();
    });
    const auto outcome = ConnectionManagerDlg::manage(list, active, file, nullptr);

    ASSERT_TRUE(outcome.accepted);
    EXPECT_TRUE(outcome.modified);
    EXPECT_EQ(messages(), "");
    ASSERT_NE(active, nullptr);
    EXPECT_EQ(list.back(), active);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // What the file holds logs in, as the next start of the program would.
    const ConnectionList stored = loadConnections(file);
    EXPECT_EQ(namesOf(stored), "Elsewhere,Local Server");
    const auto reloaded = stored.back();
    EXPECT_EQ(fieldsOf(*reloaded), "Local Server|" + probe.server + "|" + probe.user + "|" +
                                       probe.password + "||" + std::to_string(probe.port) +
                                       "|passive");
    connected_.push_back(reloaded);
    ASSERT_TRUE(reloaded->connectFtp()) << lastErrorText();
    std::string directory;
    EXPECT_TRUE(reloaded->printWorkingDirectory(directory));
    EXPECT_EQ(directory, "/");
}

}  // namespace
