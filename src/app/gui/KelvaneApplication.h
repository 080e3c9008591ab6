#pragma once

#include <QApplication>

// The desktop program's application object: the Qt application, the front ends of the core
// (message pump, prompter), the settings folder and the main window, which it runs as a modal
// dialog. The program ends when that window closes.
class KelvaneApplication {
  public:
    KelvaneApplication(int& argc, char** argv);
    int run();

  private:
    QApplication app_;
};
