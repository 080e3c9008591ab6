#include "ui/ModalDialog.h"

#include <QDialog>
#include <utility>

namespace {

ModalRunner& installed() {
    static ModalRunner runner;
    return runner;
}

}  // namespace

int runModal(QDialog& dialog) {
    if (const ModalRunner& runner = installed()) {
        return runner(dialog);
    }
    return dialog.exec();
}

ModalRunner setModalRunner(ModalRunner runner) {
    return std::exchange(installed(), std::move(runner));
}
