#pragma once

#include <QString>
#include <functional>

class QWidget;

// One family of windows renders its telling states through a registered function; the
// screenshots program (make screenshots) calls every one of them and writes the PNG files.
struct ScreenshotContext {
    QString outputFolder;
    // Lays the widget out at its size hint (or its current size when it was resized), renders it
    // with QWidget::grab() and writes outputFolder/name.png.
    void save(QWidget& widget, const QString& name) const;
};

using ScreenshotFunction = std::function<void(const ScreenshotContext&)>;

// At namespace scope in a family's file: static ScreenshotRegistrar reg("report", [](auto& c)
// {...});
struct ScreenshotRegistrar {
    ScreenshotRegistrar(const char* family, ScreenshotFunction function);
};
