#include "ui/mainwindow/FileDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QString>

namespace {

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

std::string toStd(const QString& text) {
    return text.toStdString();
}

QString startFolder(const std::string& startPath) {
    if (startPath.empty()) {
        return {};
    }
    const QFileInfo info(qs(startPath));
    return info.isDir() ? info.absoluteFilePath() : info.absolutePath();
}

// The files chosen in a file dialog of the given kind; none when the person cancelled.
// QFileDialog's static functions take no default suffix; this one adds it the way the file
// dialogs of the original program did, when the chosen name has no extension of its own.
QStringList chooseFiles(QWidget* parent, const std::string& caption, const std::string& startPath,
                        const std::string& filter, const std::string& defaultSuffix,
                        QFileDialog::FileMode mode, QFileDialog::AcceptMode accept) {
    QFileDialog dialog(parent, qs(caption), startFolder(startPath), qs(filter));
    dialog.setFileMode(mode);
    dialog.setAcceptMode(accept);
    dialog.setDefaultSuffix(qs(defaultSuffix));
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles() : QStringList();
}

std::optional<std::string> firstOf(const QStringList& files) {
    if (files.isEmpty()) {
        return std::nullopt;
    }
    return toStd(files.front());
}

class QtFileDialogs final : public FileDialogs {
  public:
    std::optional<std::string> openFile(QWidget* parent, const std::string& caption,
                                        const std::string& startPath, const std::string& filter,
                                        const std::string& defaultSuffix) override {
        return firstOf(chooseFiles(parent, caption, startPath, filter, defaultSuffix,
                                   QFileDialog::ExistingFile, QFileDialog::AcceptOpen));
    }

    std::vector<std::string> openFiles(QWidget* parent, const std::string& caption,
                                       const std::string& startPath, const std::string& filter,
                                       const std::string& defaultSuffix) override {
        std::vector<std::string> chosen;
        for (const QString& file :
             chooseFiles(parent, caption, startPath, filter, defaultSuffix,
                         QFileDialog::ExistingFiles, QFileDialog::AcceptOpen)) {
            chosen.push_back(toStd(file));
        }
        return chosen;
    }

    std::optional<std::string> saveFile(QWidget* parent, const std::string& caption,
                                        const std::string& startPath, const std::string& filter,
                                        const std::string& defaultSuffix) override {
        return firstOf(chooseFiles(parent, caption, startPath, filter, defaultSuffix,
                                   QFileDialog::AnyFile, QFileDialog::AcceptSave));
    }

    std::optional<std::string> openNewOrExistingFile(QWidget* parent, const std::string& caption,
                                                     const std::string& startPath,
                                                     const std::string& filter,
                                                     const std::string& defaultSuffix) override {
        return firstOf(chooseFiles(parent, caption, startPath, filter, defaultSuffix,
                                   QFileDialog::AnyFile, QFileDialog::AcceptOpen));
    }

    std::optional<std::string> chooseFolder(QWidget* parent, const std::string& caption,
                                            const std::string& startPath) override {
        const QString folder =
            QFileDialog::getExistingDirectory(parent, qs(caption), startFolder(startPath));
        if (folder.isEmpty()) {
            return std::nullopt;
        }
        return toStd(folder);
    }
};

QtFileDialogs qtDialogs;
FileDialogs* installed = nullptr;

}  // namespace

FileDialogs& fileDialogs() {
    return installed != nullptr ? *installed : qtDialogs;
}

void setFileDialogs(FileDialogs* dialogs) {
    installed = dialogs;
}
