#include "ui/connections/ConnectionManagerDlg.h"

#include <QByteArray>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>

#include "common/Prompter.h"
#include "transfer/ConnectionChecks.h"
#include "ui/ModalDialog.h"
#include "ui/Tooltips.h"
#include "ui/connections/EditConnectionDlg.h"
#include "ui_ConnectionManagerDlg.h"

namespace {

constexpr const char* kNotFound = "Could not find any connection details";
constexpr const char* kNoneSelected = "No connection selected to edit";

QString shown(const std::string& bytes) {
    return QString::fromStdString(bytes);
}

// Each item of the drop-down list keeps the name's own bytes: a name read from a file written
// elsewhere need not be UTF-8, and is looked up as stored, not as shown.
std::string nameOfItem(const QComboBox& combo, int index) {
    if (index < 0) {
        return {};
    }
    return combo.itemData(index).toByteArray().toStdString();
}

}  // namespace

ConnectionManagerDlg::ConnectionManagerDlg(ConnectionList& list,
                                           std::shared_ptr<ConnectionDetails>& active,
                                           QWidget* parent)
    : QDialog(parent),
      ui_(std::make_unique<Ui::ConnectionManagerDlg>()),
      callerList_(list),
      callerActive_(active),
      list_(list),
      selection_(active) {
    ui_->setupUi(this);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &ConnectionManagerDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &ConnectionManagerDlg::reject);
    connect(ui_->newButton, &QPushButton::clicked, this, &ConnectionManagerDlg::OnNew);
    connect(ui_->editButton, &QPushButton::clicked, this, &ConnectionManagerDlg::OnEdit);
    connect(ui_->deleteButton, &QPushButton::clicked, this, &ConnectionManagerDlg::OnDelete);
    // Only the person's choice counts as a change of selection; the dialog's own changes of the
    // current item are made with the signals blocked.
    connect(ui_->connectionCombo, &QComboBox::currentIndexChanged, this,
            &ConnectionManagerDlg::OnSelchangeConnection);

    applyTooltips({
        {ui_->connectionCombo, "Descriptive name of the connection"},
        {ui_->serverEdit, "Server address eg. " + QString::fromUtf8(kExampleFtpServer.data(),
                                                                    kExampleFtpServer.size())},
        {ui_->userEdit, "Your FTP user name"},
        {ui_->emailEdit, "Email only used for Anonymous FTP"},
        {ui_->newButton, "Create a new connection"},
        {ui_->editButton, "Edit current connection details"},
        {ui_->deleteButton, "Permanently delete the current connection details"},
    });

    for (const auto& connection : list_) {
        if (connection != nullptr && !connection->name.empty()) {
            addToCombo(connection->name);
        }
    }
    selectInCombo(selection_ != nullptr ? selection_->name : std::string());
    const std::string chosen = comboName();
    showFields(chosen.empty() ? nullptr : findConnection(list_, chosen).get());
    checkConsistency();
}

ConnectionManagerDlg::~ConnectionManagerDlg() = default;

ConnectionManagerDlg::Outcome ConnectionManagerDlg::manage(
    ConnectionList& list, std::shared_ptr<ConnectionDetails>& active,
    const std::filesystem::path& connectionsFile, QWidget* parent) {
    ConnectionManagerDlg dialog(list, active, parent);
    Outcome outcome;
    outcome.accepted = runModal(dialog) == QDialog::Accepted;
    outcome.modified = dialog.modified();
    if (outcome.accepted && outcome.modified) {
        saveConnections(connectionsFile, list);
    }
    return outcome;
}

// ---- The drop-down list ----

std::string ConnectionManagerDlg::comboName() const {
    return nameOfItem(*ui_->connectionCombo, ui_->connectionCombo->currentIndex());
}

void ConnectionManagerDlg::addToCombo(const std::string& name) {
    QComboBox& combo = *ui_->connectionCombo;
    const QSignalBlocker quiet(combo);
    const QString text = shown(name);
    int at = 0;
    while (at < combo.count() &&
           QString::compare(combo.itemText(at), text, Qt::CaseInsensitive) <= 0) {
        ++at;
    }
    combo.insertItem(at, text, QByteArray::fromStdString(name));
}

void ConnectionManagerDlg::selectInCombo(const std::string& name) {
    QComboBox& combo = *ui_->connectionCombo;
    const QSignalBlocker quiet(combo);
    int found = -1;
    for (int index = 0; index < combo.count() && found < 0 && !name.empty(); ++index) {
        if (nameOfItem(combo, index) == name) {
            found = index;
        }
    }
    combo.setCurrentIndex(found);
}

void ConnectionManagerDlg::removeFromCombo(int index) {
    const QSignalBlocker quiet(ui_->connectionCombo);
    ui_->connectionCombo->removeItem(index);
}

// ---- Shown fields and checks ----

void ConnectionManagerDlg::showFields(const ConnectionDetails* connection) {
    ui_->serverEdit->setText(connection != nullptr ? shown(connection->server) : QString());
    ui_->userEdit->setText(connection != nullptr ? shown(connection->user) : QString());
    ui_->emailEdit->setText(connection != nullptr ? shown(connection->email) : QString());
}

void ConnectionManagerDlg::checkConsistency() {
    if (callerActive_ != nullptr && callerActive_->isConnected() && selection_ != nullptr &&
        selection_->isConnected() && selection_ != callerActive_) {
        prompter().messageBox("Two connections flagged as connected");
    }
}

bool ConnectionManagerDlg::breakSelectedConnection(bool naming) {
    if (selection_ == nullptr || !selection_->isConnected()) {
        return true;
    }
    const std::string question = naming ? "Break current connection to " + selection_->name + "?"
                                        : std::string("Break current connection?");
    if (!prompter().askYesNo(question)) {
        return false;
    }
    selection_->disconnectFtp();
    return true;
}

std::set<std::string> ConnectionManagerDlg::allNames() const {
    std::set<std::string> names;
    for (const auto& connection : list_) {
        if (connection != nullptr) {
            names.insert(connection->name);
        }
    }
    return names;
}

void ConnectionManagerDlg::focusOk() {
    ui_->buttonBox->button(QDialogButtonBox::Ok)->setFocus();
}

// ---- Commands ----

void ConnectionManagerDlg::OnSelchangeConnection() {
    modified_ = true;
    const std::shared_ptr<ConnectionDetails> found = findConnection(list_, comboName());
    if (found == nullptr) {
        prompter().messageBox(kNotFound);
        return;
    }
    if (!breakSelectedConnection(false)) {
        selectInCombo(selection_->name);
        return;
    }
    selection_ = found;
    showFields(selection_.get());
    checkConsistency();
}

void ConnectionManagerDlg::OnNew() {
    if (!breakSelectedConnection(true)) {
        return;
    }
    const auto created = std::make_shared<ConnectionDetails>();
    // A connection made from now on keeps its password and files out of sight on the way;
    // connections of before stay what they were.
    created->tlsMode = ftp::TlsMode::Required;
    EditConnectionDlg edit(allNames(), created, this);
    if (runModal(edit) == QDialog::Accepted) {
        modified_ = true;
        list_.push_back(created);
        selection_ = created;
        addToCombo(created->name);
        selectInCombo(created->name);
        showFields(created.get());
    }
    checkConsistency();
    focusOk();
}

std::shared_ptr<ConnectionDetails> ConnectionManagerDlg::connectionToChange(bool& stopped) {
    stopped = true;
    if (selection_ == nullptr) {
        prompter().messageBox(kNoneSelected);
        return nullptr;
    }
    if (!breakSelectedConnection(false)) {
        return nullptr;
    }
    stopped = false;
    std::shared_ptr<ConnectionDetails> found = findConnection(list_, comboName());
    if (found == nullptr) {
        prompter().messageBox(kNotFound);
    }
    return found;
}

void ConnectionManagerDlg::OnEdit() {
    bool stopped = false;
    const std::shared_ptr<ConnectionDetails> found = connectionToChange(stopped);
    if (stopped) {
        return;
    }
    if (found != nullptr) {
        std::set<std::string> names = allNames();
        names.erase(found->name);
        EditConnectionDlg edit(std::move(names), found, this);
        if (runModal(edit) == QDialog::Accepted) {
            modified_ = true;
            removeFromCombo(ui_->connectionCombo->currentIndex());
            addToCombo(found->name);
            selectInCombo(found->name);
            showFields(found.get());
        }
    }
    checkConsistency();
    focusOk();
}

void ConnectionManagerDlg::OnDelete() {
    bool stopped = false;
    const std::shared_ptr<ConnectionDetails> found = connectionToChange(stopped);
    if (stopped) {
        return;
    }
    if (found != nullptr) {
        modified_ = true;
        removeFromCombo(ui_->connectionCombo->currentIndex());
        selection_.reset();
        list_.erase(std::find(list_.begin(), list_.end(), found));
        selectInCombo(std::string());
        showFields(nullptr);
    }
    checkConsistency();
    focusOk();
}

void ConnectionManagerDlg::accept() {
    if (selection_ != callerActive_ && callerActive_ != nullptr && callerActive_->isConnected()) {
        if (!prompter().askYesNo("Break current connection to " + callerActive_->name + "?")) {
            return;
        }
        callerActive_->disconnectFtp();
    }
    if (selection_ != callerActive_) {
        callerActive_ = selection_;
    }
    if (modified_) {
        callerList_ = list_;
    }
    QDialog::accept();
}
