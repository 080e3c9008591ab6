#include "ui/mainwindow/CommandLine.h"

#include <QFileInfo>

std::string commandLineFile(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument.isEmpty() || argument.startsWith(QLatin1Char('-'))) {
            continue;
        }
        const QFileInfo file(argument);
        return (file.exists() ? file.absoluteFilePath() : argument).toStdString();
    }
    return {};
}
