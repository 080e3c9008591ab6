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

std::optional<std::string> singleChoice(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return std::nullopt;
    }
    return toStd(dialog.selectedFiles().front());
}

// QFileDialog's static functions take no default suffix; this one adds it the way the file
// dialogs of the original program did, when the chosen name has no extension of its own.
class QtFileDialogs final : public FileDialogs {
  public:
    std::optional<std::string> openFile(QWidget* parent, const std::string& caption,
                                        const std::string& startPath, const std::string& filter,
                                        const std::string& defaultSuffix) override {
        QFileDialog dialog(parent, qs(caption), startFolder(startPath), qs(filter));
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setDefaultSuffix(qs(defaultSuffix));
        return singleChoice(dialog);
    }

    std::vector<std::string> openFiles(QWidget* parent, const std::string& caption,
                                       const std::string& startPath, const std::string& filter,
                                       const std::string& defaultSuffix) override {
        QFileDialog dialog(parent, qs(caption), startFolder(startPath), qs(filter));
        dialog.setFileMode(QFileDialog::ExistingFiles);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setDefaultSuffix(qs(defaultSuffix));
        std::vector<std::string> chosen;
        if (dialog.exec() == QDialog::Accepted) {
            for (const QString& file : dialog.selectedFiles()) {
                chosen.push_back(toStd(file));
            }
        }
        return chosen;
    }

    std::optional<std::string> saveFile(QWidget* parent, const std::string& caption,
                                        const std::string& startPath, const std::string& filter,
                                        const std::string& defaultSuffix) override {
        QFileDialog dialog(parent, qs(caption), startFolder(startPath), qs(filter));
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setDefaultSuffix(qs(defaultSuffix));
        return singleChoice(dialog);
    }

    std::optional<std::string> openNewOrExistingFile(QWidget* parent, const std::string& caption,
                                                     const std::string& startPath,
                                                     const std::string& filter,
                                                     const std::string& defaultSuffix) override {
        QFileDialog dialog(parent, qs(caption), startFolder(startPath), qs(filter));
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setDefaultSuffix(qs(defaultSuffix));
        return singleChoice(dialog);
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
