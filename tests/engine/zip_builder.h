#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// One entry of a zip archive made for a test: a file, a folder or a link, with any name at all
// (absolute and ".." names included, which no well-behaved tool would write).
struct ZipEntry {
    enum class Type { File, Folder, Symlink };
    QString name;
    QByteArray data; // file contents; a link's target
    int mode = 0644;
    Type type = Type::File;

    static ZipEntry file(const QString &n, const QByteArray &d, int m = 0644) { return {n, d, m}; }
    static ZipEntry folder(const QString &n) { return {n, {}, 0755, Type::Folder}; }
    static ZipEntry symlink(const QString &n, const QString &to)
    {
        return {n, to.toUtf8(), 0777, Type::Symlink};
    }
};

// Writes the entries as a zip archive (stored, not compressed, unless `compress`).
QByteArray buildZip(const QList<ZipEntry> &entries, bool compress = false);

// A release of a stand-in engine, compressed: the executable script (mode 0644) at its top
// level and a helper folder beside it, the way the real build is laid out, with a set-id file
// (04755), a private one (0640) and links inside the release.
QByteArray engineZip(const QString &executableName, const QByteArray &marker);
