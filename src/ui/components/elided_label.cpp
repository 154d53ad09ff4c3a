#include "ui/components/elided_label.h"

#include "ui/theme.h"

#include <QEvent>
#include <QTextLayout>

ElidedLabel::ElidedLabel(Qt::TextElideMode mode, int maxLines, QWidget *parent)
    : QLabel(parent), m_mode(mode), m_maxLines(qMax(1, maxLines))
{
    setTextFormat(Qt::PlainText);
    setWordWrap(m_maxLines > 1);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

ElidedLabel *ElidedLabel::errorLine(QWidget *parent)
{
    auto *label = new ElidedLabel(Qt::ElideRight, 3, parent);
    label->setFont(Theme::font(Theme::TextRole::Caption));
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Theme::red());
    label->setPalette(palette);
    return label;
}

void ElidedLabel::setFullText(const QString &text)
{
    if (text == m_fullText)
        return;
    m_fullText = text;
    setAccessibleName(text);
    relayout();
}

QSize ElidedLabel::minimumSizeHint() const
{
    return QSize(0, fontMetrics().lineSpacing());
}

QSize ElidedLabel::sizeHint() const
{
    const int lines = qMax(1, text().count(u'\n') + 1);
    return QSize(fontMetrics().horizontalAdvance(m_fullText), fontMetrics().lineSpacing() * lines);
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    relayout();
}

void ElidedLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        relayout();
}

void ElidedLabel::relayout()
{
    const int width = qMax(1, contentsRect().width());
    const QFontMetrics fm = fontMetrics();
    QString shown;
    if (m_maxLines == 1) {
        shown = fm.elidedText(m_fullText, m_mode, width);
    } else {
        // Break every paragraph into lines as the label would; when more lines are needed
        // than allowed, the last allowed line takes the rest of the text, cut.
        QStringList lines;
        QStringList rest;
        const QStringList paragraphs = m_fullText.split(u'\n');
        for (const QString &paragraph : paragraphs) {
            QTextLayout layout(paragraph, font());
            layout.beginLayout();
            for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
                line.setLineWidth(width);
                const QString piece = paragraph.mid(line.textStart(), line.textLength()).trimmed();
                if (lines.size() < m_maxLines - 1)
                    lines.append(piece);
                else
                    rest.append(piece);
            }
            layout.endLayout();
            if (paragraph.isEmpty() && lines.size() < m_maxLines - 1)
                lines.append(QString());
        }
        if (rest.size() == 1) {
            lines.append(fm.elidedText(rest.first(), m_mode, width));
        } else if (rest.size() > 1) {
            // More text follows than fits: the last line always shows that it was cut.
            const QChar ellipsis(0x2026);
            QString last =
                fm.elidedText(rest.first(), m_mode, width - fm.horizontalAdvance(ellipsis));
            if (!last.endsWith(ellipsis))
                last += ellipsis;
            lines.append(last);
        }
        shown = lines.join(u'\n');
    }
    setToolTip(shown == m_fullText ? QString() : m_fullText);
    if (shown != text()) {
        setText(shown);
        updateGeometry();
    }
}
