#include "ui/browse/PropertiesDlg.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCheckBox>
#include <QDateTime>
#include <QDialogButtonBox>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "ui/browse/BrowseSettings.h"
#include "ui/browse/FileListModel.h"
#include "ui/browse/LocalTreeReader.h"
#include "ui_PropertiesDlg.h"

namespace {

QString display(const std::string& bytes) {
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

QString formatTime(const struct timespec& when) {
    const QDateTime time = QDateTime::fromSecsSinceEpoch(when.tv_sec);
    return time.toString(dayBeforeMonth() ? QStringLiteral("dd/MM/yyyy  HH:mm:ss")
                                          : QStringLiteral("MM/dd/yyyy  HH:mm:ss"));
}

QString permissionsText(mode_t mode) {
    QString text;
    constexpr mode_t bits[] = {S_IRUSR, S_IWUSR, S_IXUSR, S_IRGRP, S_IWGRP,
                               S_IXGRP, S_IROTH, S_IWOTH, S_IXOTH};
    for (int i = 0; i < 9; ++i) {
        text += (mode & bits[i]) != 0 ? QLatin1Char("rwx"[i % 3]) : QLatin1Char('-');
    }
    return text + QStringLiteral(" (%1)").arg(mode & 0777, 3, 8, QLatin1Char('0'));
}

QString ownerText(uid_t uid, gid_t gid) {
    const struct passwd* user = ::getpwuid(uid);
    const struct group* group = ::getgrgid(gid);
    const QString userName =
        user != nullptr ? QString::fromLocal8Bit(user->pw_name) : QString::number(uid);
    const QString groupName =
        group != nullptr ? QString::fromLocal8Bit(group->gr_name) : QString::number(gid);
    return userName + QLatin1Char(':') + groupName;
}

QString kindText(mode_t own, bool targetIsFolder, bool link) {
    if (link) {
        return targetIsFolder ? QStringLiteral("Link to a folder") : QStringLiteral("Link");
    }
    if (S_ISDIR(own)) {
        return QStringLiteral("Folder");
    }
    if (S_ISREG(own)) {
        return QStringLiteral("File");
    }
    if (S_ISFIFO(own)) {
        return QStringLiteral("Pipe");
    }
    if (S_ISSOCK(own)) {
        return QStringLiteral("Socket");
    }
    return QStringLiteral("Device");
}

}  // namespace

PropertiesDlg::PropertiesDlg(const std::string& path, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::PropertiesDlg>()) {
    ui_->setupUi(this);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
    // Shown, not offered: the boxes read like the rest, but a click changes nothing.
    for (QCheckBox* box :
         {ui_->readOnlyCheck, ui_->hiddenCheck, ui_->compressedCheck, ui_->encryptedCheck}) {
        box->setAttribute(Qt::WA_TransparentForMouseEvents);
        box->setFocusPolicy(Qt::NoFocus);
    }
    fill(path);
}

PropertiesDlg::~PropertiesDlg() = default;

void PropertiesDlg::fill(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    std::string location = slash == std::string::npos ? std::string()
                           : slash == 0               ? std::string("/")
                                                      : path.substr(0, slash);
    if (name.empty()) {
        name = path;
        location.clear();
    }
    setWindowTitle(display(name) + QStringLiteral(" Properties"));
    ui_->nameEdit->setText(display(name));
    ui_->locationEdit->setText(display(location));

    struct stat own {};
    if (::lstat(path.c_str(), &own) != 0) {
        ui_->typeValue->setText(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    struct stat target = own;
    const bool link = S_ISLNK(own.st_mode);
    if (link && ::stat(path.c_str(), &target) != 0) {
        target = own;
    }
    const bool folder = S_ISDIR(target.st_mode);
    ui_->typeValue->setText(kindText(own.st_mode, folder, link));
    if (link) {
        std::vector<char> buffer(4096);
        const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (length > 0) {
            ui_->typeValue->setText(
                ui_->typeValue->text() + QStringLiteral(" to ") +
                display(std::string(buffer.data(), static_cast<size_t>(length))));
        }
    }

    if (folder) {
        ui_->sizeLabel->setText(QStringLiteral("Contains:"));
        LocalTreeFilter everything;
        everything.showFiles = true;
        everything.fileMask = "*";
        everything.hiddenMask = 0;
        std::vector<LocalTreeEntry> entries;
        int error = 0;
        if (readLocalTreeFolder(path, everything, entries, error)) {
            const auto folders = std::count_if(entries.begin(), entries.end(),
                                               [](const LocalTreeEntry& e) { return e.folder; });
            const auto files = static_cast<long>(entries.size()) - folders;
            ui_->sizeValue->setText(
                QStringLiteral("%1 %2, %3 %4")
                    .arg(files)
                    .arg(files == 1 ? QStringLiteral("file") : QStringLiteral("files"))
                    .arg(folders)
                    .arg(folders == 1 ? QStringLiteral("folder") : QStringLiteral("folders")));
        } else {
            ui_->sizeValue->setText(QString::fromLocal8Bit(std::strerror(error)));
        }
    } else {
        ui_->sizeValue->setText(
            FileListModel::formatBytes(static_cast<std::uint64_t>(target.st_size)) +
            QStringLiteral(" bytes"));
    }
    ui_->modifiedValue->setText(formatTime(target.st_mtim));
    ui_->accessedValue->setText(formatTime(target.st_atim));
    ui_->ownerValue->setText(ownerText(target.st_uid, target.st_gid));
    ui_->permissionsValue->setText(permissionsText(target.st_mode));

    const LocalTreeDetails details = readLocalTreeDetails(path, false, {});
    ui_->readOnlyCheck->setChecked((target.st_mode & S_IWUSR) == 0);
    ui_->hiddenCheck->setChecked(!name.empty() && name.front() == '.');
    ui_->compressedCheck->setChecked((details.attributes & kAttributeCompressed) != 0);
    ui_->encryptedCheck->setChecked((details.attributes & kAttributeEncrypted) != 0);
}
