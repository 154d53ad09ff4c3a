#include "ui/components/destination_row.h"

#include "app/destination_folder.h"
#include "ui/components/elided_label.h"
#include "ui/icons.h"
#include "ui/theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QToolButton>
#include <QVBoxLayout>

DestinationRow::DestinationRow(QWidget *parent) : QWidget(parent)
{
    auto *icon = new QLabel(this);
    icon->setPixmap(
        Icons::pixmap(QStringLiteral("folder.fill"), Theme::yellow(), 20, devicePixelRatioF()));

    auto *caption = new QLabel(QStringLiteral("Папка сохранения"), this);
    Theme::style(caption, Theme::TextRole::Caption, Theme::Emphasis::Secondary);
    m_path = new ElidedLabel(Qt::ElideMiddle, 1, this);
    Theme::style(m_path, Theme::TextRole::Subheadline);

    auto *texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->setContentsMargins(0, 0, 0, 0);
    texts->addWidget(caption);
    texts->addWidget(m_path);

    auto *menu = new QMenu(this);
    m_open =
        menu->addAction(Icons::icon(QStringLiteral("folder")), QStringLiteral("Открыть папку"));
    m_choose = menu->addAction(Icons::icon(QStringLiteral("folder.badge.gearshape")),
                               QStringLiteral("Изменить папку…"));
    connect(m_open, &QAction::triggered, this, &DestinationRow::openRequested);
    connect(m_choose, &QAction::triggered, this, &DestinationRow::chooseRequested);
    m_quitSeparator = menu->addSeparator();
    connect(menu->addAction(QStringLiteral("Выйти")), &QAction::triggered, this,
            &DestinationRow::quitRequested);

    m_menuButton = new QToolButton(this);
    m_menuButton->setIcon(Icons::icon(QStringLiteral("ellipsis.circle")));
    m_menuButton->setIconSize(QSize(20, 20));
    m_menuButton->setAutoRaise(true);
    m_menuButton->setPopupMode(QToolButton::InstantPopup);
    m_menuButton->setMenu(menu);
    m_menuButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    m_menuButton->setToolTip(QStringLiteral("Папка сохранения"));
    m_menuButton->setAccessibleName(QStringLiteral("Папка сохранения"));

    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(10);
    row->addWidget(icon, 0, Qt::AlignVCenter);
    row->addLayout(texts, 1);
    row->addWidget(m_menuButton, 0, Qt::AlignVCenter);
}

QAction *DestinationRow::addMenuAction(const QString &text)
{
    auto *action = new QAction(text, m_menuButton->menu());
    m_menuButton->menu()->insertAction(m_quitSeparator, action);
    return action;
}

void DestinationRow::bind(DestinationFolder &folder)
{
    connect(this, &DestinationRow::openRequested, &folder, &DestinationFolder::open);
    connect(this, &DestinationRow::chooseRequested, &folder, &DestinationFolder::choose);
    connect(&folder, &DestinationFolder::changed, this, &DestinationRow::setPath);
    setPath(folder.path());
}

void DestinationRow::setPath(const QString &path)
{
    m_path->setFullText(path);
}

void DestinationRow::setChangeDisabled(bool disabled)
{
    m_choose->setEnabled(!disabled);
}
