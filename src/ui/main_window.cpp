#include "ui/main_window.h"

#include <QLabel>
#include <QTabWidget>

namespace {

QWidget *placeholder(const QString &text)
{
    auto *label = new QLabel(text);
    label->setAlignment(Qt::AlignCenter);
    return label;
}

}  // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Tovrin"));
    setMinimumSize(kMinimumWidth, kMinimumHeight);

    m_tabs = new QTabWidget(this);
    m_tabs->setDocumentMode(true);
    m_tabs->addTab(placeholder(QStringLiteral("Яндекс Диск")), QStringLiteral("Яндекс Диск"));
    m_tabs->addTab(placeholder(QStringLiteral("Видео")), QStringLiteral("Видео"));
    m_tabs->setCurrentIndex(0);
    setCentralWidget(m_tabs);
}
