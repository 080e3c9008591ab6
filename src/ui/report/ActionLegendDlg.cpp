#include "ui/report/ActionLegendDlg.h"

#include <QDialogButtonBox>
#include <QLabel>

#include "common/FileEntry.h"
#include "ui/icons/ImageLists.h"
#include "ui_ActionLegendDlg.h"

namespace {

const QSize kIconSize(32, 32);

}  // namespace

ActionLegendDlg::ActionLegendDlg(QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ActionLegendDlg>()) {
    ui_->setupUi(this);
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
    using Action = EntryAction;
    const struct {
        QLabel* cell;
        Action action;
        bool folder;
        bool failed;
    } cells[] = {
        {ui_->plainFileIcon, Action::None, false, false},
        {ui_->plainFolderIcon, Action::None, true, false},
        {ui_->overwriteFileIcon, Action::Overwrite, false, false},
        {ui_->overwriteFailedFileIcon, Action::Overwrite, false, true},
        {ui_->addFileIcon, Action::Add, false, false},
        {ui_->addFolderIcon, Action::Add, true, false},
        {ui_->addFailedFileIcon, Action::Add, false, true},
        {ui_->addFailedFolderIcon, Action::Add, true, true},
        {ui_->deleteFileIcon, Action::Delete, false, false},
        {ui_->deleteFolderIcon, Action::Delete, true, false},
        {ui_->deleteFailedFileIcon, Action::Delete, false, true},
        {ui_->deleteFailedFolderIcon, Action::Delete, true, true},
    };
    for (const auto& cell : cells) {
        // The very images of the lists, so that the legend cannot tell otherwise.
        FileEntry entry;
        entry.kind = cell.folder ? EntryKind::Folder : EntryKind::File;
        entry.action = cell.action;
        entry.failed = cell.failed;
        const int image = ImageLists::entryImageIndex(entry, true);
        cell.cell->setPixmap(ImageLists::instance().entryIcon(image).pixmap(kIconSize));
        cell.cell->setMinimumSize(kIconSize);
        cell.cell->setProperty("entryImage", image);
    }
}

ActionLegendDlg::~ActionLegendDlg() = default;
