#pragma once

#include <QLabel>

// A label that keeps to a number of lines and cuts what does not fit (at the end or in the
// middle) instead of growing the window. The full text stays available as the tooltip and
// the accessible name.
class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(Qt::TextElideMode mode = Qt::ElideRight, int maxLines = 1,
                         QWidget *parent = nullptr);

    // An error text in red, caption size, at most three lines cut at the end.
    static ElidedLabel *errorLine(QWidget *parent);

    void setFullText(const QString &text);
    QString fullText() const { return m_fullText; }
    // What is drawn now, for tests.
    QString shownText() const { return text(); }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void relayout();

    QString m_fullText;
    Qt::TextElideMode m_mode;
    int m_maxLines;
};
