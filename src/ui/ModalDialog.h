#pragma once

#include <functional>

class QDialog;

// How a window opens a modal dialog of its own (Directory Name, Browse Files, Action Legend):
// exec() in the program. A test installs a runner that drives the dialog through its methods
// and returns its result, so that no test blocks in a dialog's event loop.
using ModalRunner = std::function<int(QDialog&)>;

int runModal(QDialog& dialog);
// Installs `runner` (empty: exec() again) and returns the previous one.
ModalRunner setModalRunner(ModalRunner runner);
