#include <QApplication>
#include <QDir>
#include <QWidget>
#include <csignal>
#include <cstdio>
#include <map>
#include <string>

#include "screenshots/Screenshot.h"

namespace {

std::multimap<std::string, ScreenshotFunction>& registry() {
    static std::multimap<std::string, ScreenshotFunction> functions;
    return functions;
}

}  // namespace

ScreenshotRegistrar::ScreenshotRegistrar(const char* family, ScreenshotFunction function) {
    registry().emplace(family, std::move(function));
}

void ScreenshotContext::save(QWidget& widget, const QString& name) const {
    widget.ensurePolished();
    if (!widget.testAttribute(Qt::WA_Resized)) {
        widget.resize(widget.sizeHint());
    }
    widget.show();
    QApplication::processEvents();
    const QString path = QDir(outputFolder).filePath(name + ".png");
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "could not write %s\n", qPrintable(path));
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

// screenshots OUTPUT_FOLDER [FAMILY...]: renders every registered family, or the named ones.
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    std::signal(SIGPIPE, SIG_IGN);
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: screenshots OUTPUT_FOLDER [FAMILY...]\n");
        return 2;
    }
    const ScreenshotContext context{QString::fromLocal8Bit(argv[1])};
    QDir().mkpath(context.outputFolder);
    for (const auto& [family, function] : registry()) {
        bool wanted = argc == 2;
        for (int i = 2; i < argc; ++i) {
            wanted = wanted || family == argv[i];
        }
        if (wanted) {
            function(context);
        }
    }
    return 0;
}
