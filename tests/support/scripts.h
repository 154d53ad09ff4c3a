#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTest>
#include <QThread>

#include <functional>

// Runs `work` on a worker thread and waits: blocking process runs have an event loop of their
// own and never run on the test's thread.
inline void onAWorker(const std::function<void()> &work)
{
    QThread *worker = QThread::create(work);
    worker->start();
    worker->wait();
    delete worker;
}

// A stand-in program: a shell script with this body.
inline void writeScript(const QString &path, const QByteArray &body)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\n" + body + "\n");
    file.close();
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

inline QStringList folderEntries(const QString &path)
{
    return QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}
