#pragma once

#include <QLabel>
#include <QString>

// The status line: long paths ("Checking folder: ...") are shortened in the middle to fit,
// so that the window keeps its width; fullText() keeps the whole text.
class StatusLabel : public QLabel {
    Q_OBJECT

  public:
    explicit StatusLabel(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    const QString& fullText() const { return fullText_; }

    QSize minimumSizeHint() const override;

  protected:
    void resizeEvent(QResizeEvent* event) override;

  private:
    void elide();

    QString fullText_;
};
