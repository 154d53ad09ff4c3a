#include "ui/components/history_row.h"

#include "app/date_format.h"
#include "ui/components/elided_label.h"
#include "ui/icons.h"
#include "ui/theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

struct ResultLook {
    const char *icon;
    QColor color;
    const char *spoken;
};

ResultLook lookOf(DownloadHistoryItem::Result result)
{
    switch (result) {
    case DownloadHistoryItem::Result::Completed:
        return {"checkmark.circle.fill", Theme::green(), "Завершено"};
    case DownloadHistoryItem::Result::Failed:
        return {"exclamationmark.triangle.fill", Theme::red(), "Ошибка"};
    case DownloadHistoryItem::Result::Canceled:
        return {"xmark.circle.fill", Theme::orange(), "Остановлено"};
    }
    return {"checkmark.circle.fill", Theme::green(), "Завершено"};
}

} // namespace

HistoryRow::HistoryRow(const DownloadHistoryItem &item, std::function<bool()> canContinue,
                       QWidget *parent)
    : QWidget(parent)
{
    const ResultLook look = lookOf(item.result);
    auto *icon = new QLabel(this);
    icon->setFixedWidth(18);
    icon->setPixmap(
        Icons::pixmap(QString::fromLatin1(look.icon), look.color, 16, devicePixelRatioF()));
    icon->setAccessibleName(QString::fromUtf8(look.spoken));

    auto *name = new ElidedLabel(Qt::ElideRight, 1, this);
    QFont nameFont = Theme::font(Theme::TextRole::Subheadline);
    nameFont.setWeight(QFont::Medium);
    name->setFont(nameFont);
    name->setFullText(item.name);
    auto *message = new ElidedLabel(Qt::ElideRight, 1, this);
    Theme::style(message, Theme::TextRole::Caption, Theme::Emphasis::Secondary);
    message->setFullText(item.message);
    message->setMinimumHeight(message->fontMetrics().lineSpacing());

    auto *texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->setContentsMargins(0, 0, 0, 0);
    texts->addWidget(name);
    texts->addWidget(message);

    auto *date = new QLabel(formatHistoryDate(item.date), this);
    Theme::style(date, Theme::TextRole::Caption2, Theme::Emphasis::Tertiary);

    auto *menu = new QMenu(this);
    if (canContinue) {
        QAction *resume = menu->addAction(Icons::icon(QStringLiteral("arrow.down.circle")),
                                          QStringLiteral("Докачать"));
        resume->setVisible(canContinue());
        // The folder may vanish and a run may start while the row is on screen.
        connect(menu, &QMenu::aboutToShow, resume,
                [resume, canContinue] { resume->setVisible(canContinue()); });
        connect(resume, &QAction::triggered, this, &HistoryRow::continueRequested);
    }
    QAction *reveal =
        menu->addAction(Icons::icon(QStringLiteral("folder")), QStringLiteral("Показать в папке"));
    menu->addSeparator();
    QAction *remove = menu->addAction(Icons::icon(QStringLiteral("trash"), Theme::red()),
                                      QStringLiteral("Удалить из истории"));
    connect(reveal, &QAction::triggered, this, &HistoryRow::revealRequested);
    connect(remove, &QAction::triggered, this, &HistoryRow::removeRequested);

    m_menuButton = new QToolButton(this);
    m_menuButton->setIcon(Icons::icon(QStringLiteral("ellipsis")));
    m_menuButton->setFixedSize(22, 22);
    m_menuButton->setAutoRaise(true);
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setMenu(menu);
    m_menuButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    m_menuButton->setToolTip(QStringLiteral("Действия"));
    m_menuButton->setAccessibleName(QStringLiteral("Действия: ") + item.name);

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 7, 0, 7);
    row->setSpacing(10);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);
    row->addWidget(date, 0, Qt::AlignVCenter);
    row->addWidget(m_menuButton, 0, Qt::AlignVCenter);
}
