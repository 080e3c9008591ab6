#include "ui/browse/FolderDlg.h"

#include <QDialogButtonBox>
#include <QTimer>

#include "ui/browse/CTreeFileCtrl.h"
#include "ui_FolderDlg.h"

FolderDlg::FolderDlg(const std::string& initialPath, const QString& prompt, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::FolderDlg>()), initialPath_(initialPath) {
    ui_->setupUi(this);
    tree_ = ui_->folderTree;
    ui_->promptLabel->setText(prompt);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &FolderDlg::accept);
    connect(ui_->buttonBox, &QDialogButtonBox::rejected, this, &FolderDlg::reject);
    connect(tree_, &CTreeFileCtrl::selectedPathChanged, this, &FolderDlg::onTreeSelection);
}

FolderDlg::~FolderDlg() = default;

void FolderDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!initialised_) {
        // Once the window is up: reading the folders down to the initial path can take a
        // moment, and the person sees the dialog meanwhile.
        QTimer::singleShot(0, this, [this] {
            if (!initialised_) {
                initialise();
            }
        });
    }
}

void FolderDlg::initialise() {
    initialised_ = true;
    tree_->setOptions(CTreeFileCtrl::kFolderDialogOptions);
    tree_->refresh();
    tree_->selectPath(initialPath_);
    path_ = tree_->selectedPath();
}

void FolderDlg::onTreeSelection() {
    path_ = tree_->selectedPath();
}

void FolderDlg::accept() {
    // Nothing with a path chosen is the top of the file system.
    if (path_.empty() || path_.back() != '/') {
        path_.push_back('/');
    }
    QDialog::accept();
}
