#include "zip_builder.h"

#include <archive.h>
#include <archive_entry.h>

#include <vector>

QByteArray buildZip(const QList<ZipEntry> &entries, bool compress)
{
    std::vector<char> buffer(size_t(64) << 20);
    size_t used = 0;
    for (const ZipEntry &e : entries)
        if (size_t(e.data.size()) + 4096 > buffer.size() / 2)
            buffer.resize(buffer.size() + size_t(e.data.size()) * 2);
    archive *a = archive_write_new();
    archive_write_set_format_zip(a);
    if (!compress)
        archive_write_set_options(a, "zip:compression=store");
    archive_write_open_memory(a, buffer.data(), buffer.size(), &used);
    for (const ZipEntry &e : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.toUtf8().constData());
        switch (e.type) {
        case ZipEntry::Type::File:
            archive_entry_set_filetype(entry, AE_IFREG);
            archive_entry_set_size(entry, e.data.size());
            break;
        case ZipEntry::Type::Folder:
            archive_entry_set_filetype(entry, AE_IFDIR);
            break;
        case ZipEntry::Type::Symlink:
            archive_entry_set_filetype(entry, AE_IFLNK);
            archive_entry_set_symlink(entry, e.linkTarget.toUtf8().constData());
            break;
        }
        archive_entry_set_perm(entry, e.mode);
        archive_entry_set_mtime(entry, 1700000000, 0);
        archive_write_header(a, entry);
        if (e.type == ZipEntry::Type::File && !e.data.isEmpty())
            archive_write_data(a, e.data.constData(), size_t(e.data.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    return QByteArray(buffer.data(), qsizetype(used));
}

QByteArray engineZip(const QString &executableName, const QByteArray &marker)
{
    const QByteArray script = "#!/bin/sh\necho " + marker + "\n";
    return buildZip({ZipEntry::folder("_internal/"),
                     ZipEntry::file("_internal/base_library.txt", "helper " + marker),
                     ZipEntry::file(executableName, script, 0644)});
}
