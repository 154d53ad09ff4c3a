#include "ui/components/screen_column.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace {

constexpr int kMaxColumnWidth = 760;
constexpr int kPadding = 26;

} // namespace

ScreenColumn::ScreenColumn(QWidget *parent) : QScrollArea(parent)
{
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setBackgroundRole(QPalette::Window);
    // Not a Tab stop of its own: the page scrolls to whichever control Tab reaches.
    setFocusPolicy(Qt::NoFocus);

    auto *page = new QWidget;
    page->setBackgroundRole(QPalette::Window);
    auto *centre = new QHBoxLayout(page);
    centre->setContentsMargins(kPadding, kPadding, kPadding, kPadding);
    centre->setSpacing(0);

    auto *columnHost = new QWidget(page);
    columnHost->setMaximumWidth(kMaxColumnWidth - 2 * kPadding);
    m_column = new QVBoxLayout(columnHost);
    m_column->setContentsMargins(0, 0, 0, 0);
    m_column->setSpacing(16);
    m_column->setAlignment(Qt::AlignTop);

    centre->addStretch(0);
    centre->addWidget(columnHost, 1);
    centre->addStretch(0);
    setWidget(page);
}
