#include "ui/report/ProblemLogDlg.h"

#include <QDialogButtonBox>
#include <QLayout>
#include <QListWidget>
#include <QScreen>
#include <QScrollBar>
#include <algorithm>

#include "ui_ProblemLogDlg.h"

ProblemLogDlg::ProblemLogDlg(const ProblemList& problems, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::ProblemLogDlg>()) {
    ui_->setupUi(this);
    for (const std::string& line : problems) {
        ui_->problemList->addItem(QString::fromStdString(line));
    }
    connect(ui_->buttonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);

    // Wide enough for the longest line where the screen allows it; the scroll bar does the rest.
    QListWidget& list = *ui_->problemList;
    const int frame = 2 * list.frameWidth() + list.verticalScrollBar()->sizeHint().width();
    const int margins = layout()->contentsMargins().left() + layout()->contentsMargins().right();
    const int wanted = list.sizeHintForColumn(0) + frame + margins + 8;
    const QScreen* screen = this->screen();
    const int limit = screen != nullptr ? screen->availableGeometry().width() * 4 / 5 : 1000;
    const QSize hint = sizeHint();
    if (wanted > hint.width()) {
        resize(std::min(wanted, limit), hint.height());
    }
}

ProblemLogDlg::~ProblemLogDlg() = default;
