#include "ui/mainwindow/QtPrompter.h"

#include <QApplication>
#include <QMessageBox>

#include "ui/mainwindow/ConfirmDlg.h"

namespace {

// Paths and server replies may hold "<" and "&": never let them be taken for markup.
QMessageBox::StandardButton showBox(QMessageBox::Icon icon, const std::string& text,
                                    QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, QStringLiteral("Kelvane"), QString::fromStdString(text), buttons,
                    QApplication::activeWindow());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

}  // namespace

void QtPrompter::messageBox(const std::string& text) {
    showBox(QMessageBox::Warning, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool QtPrompter::askYesNo(const std::string& text) {
    return showBox(QMessageBox::Question, text, QMessageBox::Yes | QMessageBox::No,
                   QMessageBox::Yes) == QMessageBox::Yes;
}

ConfirmAnswer QtPrompter::confirmDelete(const std::string& caption, const std::string& line1,
                                        const std::string& line2, const std::string& line3,
                                        const std::string& line4) {
    ConfirmDlg dialog(caption, line1, line2, line3, line4, QApplication::activeWindow());
    dialog.exec();
    return dialog.answer();
}
