#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGHUP into an orderly quit on the UI thread, so the program can end its
// child processes and remove its work folders instead of dying mid-write.
class QuitSignals : public QObject {
    Q_OBJECT
public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

signals:
    void quitRequested();

private:
    QSocketNotifier *m_notifier = nullptr;
};
