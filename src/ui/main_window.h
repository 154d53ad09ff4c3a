#pragma once

#include <QMainWindow>

class QTabWidget;

// The one window of the program: the two tabs, Yandex Disk first.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);

    static constexpr int kMinimumWidth = 700;
    static constexpr int kMinimumHeight = 620;

    QTabWidget *tabs() const { return m_tabs; }

private:
    QTabWidget *m_tabs = nullptr;
};
