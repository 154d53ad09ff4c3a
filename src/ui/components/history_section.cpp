#include "ui/components/history_section.h"

#include "app/download_history.h"
#include "ui/components/disclosure_header.h"
#include "ui/components/focus_handoff.h"
#include "ui/components/history_row.h"
#include "ui/theme.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

HistorySection::HistorySection(int limit, QWidget *parent) : QWidget(parent), m_limit(limit)
{
    m_header = new DisclosureHeader(QStringLiteral("История загрузок"),
                                    QStringLiteral("clock.arrow.circlepath"), this);
    connect(m_header, &DisclosureHeader::toggled, this, [this](bool on) {
        m_content->setVisible(on);
        emit expandedChanged(on);
    });

    m_content = new QWidget(this);
    auto *content = new QVBoxLayout(m_content);
    content->setContentsMargins(0, 10, 0, 0);
    content->setSpacing(0);

    m_placeholder =
        new QLabel(QStringLiteral("Здесь появятся завершённые и неудачные загрузки"), m_content);
    Theme::style(m_placeholder, Theme::TextRole::Caption, Theme::Emphasis::Secondary);
    m_placeholder->setContentsMargins(0, 12, 0, 12);
    m_placeholder->setWordWrap(true);
    content->addWidget(m_placeholder);

    auto *rowsHost = new QWidget(m_content);
    m_rowsLayout = new QVBoxLayout(rowsHost);
    m_rowsLayout->setContentsMargins(0, 0, 0, 0);
    m_rowsLayout->setSpacing(0);
    content->addWidget(rowsHost);

    m_footer = new QWidget(m_content);
    auto *footer = new QHBoxLayout(m_footer);
    footer->setContentsMargins(0, 10, 0, 0);
    m_footerText = new QLabel(m_footer);
    Theme::style(m_footerText, Theme::TextRole::Caption2, Theme::Emphasis::Tertiary);
    m_clear = new QPushButton(QStringLiteral("Очистить историю"), m_footer);
    m_clear->setFlat(true);
    m_clear->setCursor(Qt::PointingHandCursor);
    QPalette destructive = m_clear->palette();
    destructive.setColor(QPalette::ButtonText, Theme::red());
    m_clear->setPalette(destructive);
    connect(m_clear, &QPushButton::clicked, this, &HistorySection::clearRequested);
    footer->addWidget(m_footerText);
    footer->addStretch(1);
    footer->addWidget(m_clear);
    content->addWidget(m_footer);

    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(m_header);
    column->addWidget(m_content);

    m_content->setVisible(false);
    rebuildRows();
}

void HistorySection::setExpanded(bool expanded)
{
    m_header->setChecked(expanded);
}

bool HistorySection::isExpanded() const
{
    return m_header->isChecked();
}

void HistorySection::bind(DownloadHistory &history)
{
    connect(this, &HistorySection::revealRequested, &history, &DownloadHistory::reveal);
    connect(this, &HistorySection::removeRequested, &history, &DownloadHistory::remove);
    connect(this, &HistorySection::clearRequested, &history, &DownloadHistory::clear);
    connect(&history, &DownloadHistory::changed, this,
            [this, &history] { setItems(history.items()); });
    setItems(history.items());
}

void HistorySection::setItems(const QList<DownloadHistoryItem> &items)
{
    if (items == m_items)
        return;
    m_items = items;
    rebuildRows();
}

void HistorySection::setContinuable(std::function<bool(const DownloadHistoryItem &)> test)
{
    m_continuable = std::move(test);
    rebuildRows();
}

void HistorySection::rebuildRows()
{
    // A removed entry takes its focused menu with it, and "Очистить историю" hides once the
    // list is empty: the focus goes to the entry now in its place, else to the header.
    qsizetype focusedRow = -1;
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        if (FocusHandoff::holdsFocus(m_rows.at(i)))
            focusedRow = i;
    for (QWidget *row : std::as_const(m_rows))
        row->deleteLater();
    m_rows.clear();
    while (QLayoutItem *item = m_rowsLayout->takeAt(0)) {
        if (QWidget *w = item->widget())
            w->deleteLater();
        delete item;
    }

    const int total = int(m_items.size());
    m_header->setTrailingText(total > 0 ? QString::number(total) : QString());
    m_placeholder->setVisible(total == 0);
    m_footerText->setText(
        total > m_limit ? QStringLiteral("Показаны последние %1 из %2").arg(m_limit).arg(total)
                        : QString());

    const int shown = qMin(m_limit, total);
    // Rows are made after the footer; Tab still reads them before "Очистить историю".
    QWidget *previousStop = m_header;
    for (int i = 0; i < shown; ++i) {
        const DownloadHistoryItem item = m_items.at(i);
        std::function<bool()> canContinue;
        if (m_continuable)
            canContinue = [this, item] { return m_continuable(item); };
        auto *row = new HistoryRow(item, canContinue, this);
        connect(row, &HistoryRow::continueRequested, this,
                [this, item] { emit continueRequested(item); });
        connect(row, &HistoryRow::revealRequested, this,
                [this, item] { emit revealRequested(item); });
        connect(row, &HistoryRow::removeRequested, this,
                [this, item] { emit removeRequested(item); });
        m_rowsLayout->addWidget(row);
        row->show(); // now, not on the next turn: it may take the focus below
        m_rows.append(row);
        setTabOrder(previousStop, row->menuButton());
        previousStop = row->menuButton();
        if (i + 1 < shown) {
            auto *divider = new QFrame(this);
            divider->setFrameShape(QFrame::HLine);
            divider->setFrameShadow(QFrame::Plain);
            divider->setStyleSheet(QStringLiteral("color: rgba(127,127,127,60);"));
            m_rowsLayout->addWidget(divider);
        }
    }
    setTabOrder(previousStop, m_clear);
    if (total > 0)
        m_footer->setVisible(true);
    if (focusedRow >= 0) {
        auto *heir = static_cast<HistoryRow *>(m_rows.value(focusedRow, m_rows.value(shown - 1)));
        FocusHandoff::passTo({heir ? heir->menuButton() : nullptr, m_header});
    }
    FocusHandoff::setVisible(m_footer, total > 0, {m_header});
}
