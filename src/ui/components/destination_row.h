#pragma once

#include <QWidget>

class DestinationFolder;
class ElidedLabel;
class QAction;
class QToolButton;

// The save-folder row: folder icon, the path (cut in the middle) and a menu to open or
// change the folder. "Изменить папку…" follows setChangeDisabled; opening always works. The
// menu also ends the program ("Выйти"), the one way to quit where the desktop has no tray.
class DestinationRow : public QWidget {
    Q_OBJECT
public:
    explicit DestinationRow(QWidget *parent = nullptr);

    // Shows `folder` from now on; the menu opens it or lets the user choose another.
    void bind(DestinationFolder &folder);
    void setPath(const QString &path);
    void setChangeDisabled(bool disabled);

    QAction *openAction() const { return m_open; }
    QAction *chooseAction() const { return m_choose; }
    QToolButton *menuButton() const { return m_menuButton; }
    // A screen's own item in the menu, above "Выйти", which stays last.
    QAction *addMenuAction(const QString &text);

signals:
    void openRequested();
    void chooseRequested();
    void quitRequested();

private:
    ElidedLabel *m_path;
    QToolButton *m_menuButton;
    QAction *m_quitSeparator = nullptr;
    QAction *m_open;
    QAction *m_choose;
};
