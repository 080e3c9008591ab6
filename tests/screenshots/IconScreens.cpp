// The entry icons of the file lists and folder trees, by index, at both list sizes.

#include <QGridLayout>
#include <QLabel>
#include <QWidget>

#include "screenshots/Screenshot.h"
#include "ui/icons/ImageLists.h"

namespace {

void addRow(QGridLayout& grid, int row, const QString& title, int count,
            QIcon (ImageLists::*icon)(int) const) {
    grid.addWidget(new QLabel(title), row, 0, 3, 1);
    const ImageLists& lists = ImageLists::instance();
    for (int index = 0; index < count; ++index) {
        auto* number = new QLabel(QString::number(index));
        number->setAlignment(Qt::AlignCenter);
        grid.addWidget(number, row, index + 1);
        for (const int size : {16, 32}) {
            auto* image = new QLabel;
            image->setPixmap((lists.*icon)(index).pixmap(size, size));
            image->setAlignment(Qt::AlignCenter);
            grid.addWidget(image, row + (size == 16 ? 1 : 2), index + 1);
        }
    }
}

void renderIcons(const ScreenshotContext& context) {
    QWidget sheet;
    sheet.setAutoFillBackground(true);
    auto* grid = new QGridLayout(&sheet);
    addRow(*grid, 0, "Entries", ImageLists::kEntryImages, &ImageLists::entryIcon);
    addRow(*grid, 3, "Folder tree", ImageLists::kFolderStates, &ImageLists::folderStateIcon);
    context.save(sheet, "ImageLists");
}

const ScreenshotRegistrar registrar("icons", renderIcons);

}  // namespace
