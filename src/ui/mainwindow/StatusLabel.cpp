#include "ui/mainwindow/StatusLabel.h"

#include <QFontMetrics>
#include <QResizeEvent>

StatusLabel::StatusLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
}

void StatusLabel::setFullText(const QString& text) {
    fullText_ = text;
    elide();
}

QSize StatusLabel::minimumSizeHint() const {
    // One line high even while empty, so that the box does not jump when the first status comes.
    const QSize hint = QLabel::minimumSizeHint();
    return {0, std::max(hint.height(), fontMetrics().height())};
}

void StatusLabel::resizeEvent(QResizeEvent* event) {
    QLabel::resizeEvent(event);
    elide();
}

void StatusLabel::elide() {
    const int width = contentsRect().width();
    setText(width > 0 ? fontMetrics().elidedText(fullText_, Qt::ElideMiddle, width) : fullText_);
}
