#include "zip_builder.h"

#include <archive.h>
#include <archive_entry.h>

QByteArray buildZip(const QList<ZipEntry> &entries, bool compress)
{
    QByteArray zip;
    archive *a = archive_write_new();
    archive_write_set_format_zip(a);
    if (!compress)
        archive_write_set_options(a, "zip:compression=store");
    archive_write_set_bytes_in_last_block(a, 1); // no padding after the archive
    archive_write_open2(
        a, &zip, nullptr,
        [](archive *, void *out, const void *data, size_t size) -> la_ssize_t {
            static_cast<QByteArray *>(out)->append(static_cast<const char *>(data),
                                                   qsizetype(size));
            return la_ssize_t(size);
        },
        nullptr, nullptr);
    for (const ZipEntry &e : entries) {
        archive_entry *entry = archive_entry_new();
        archive_entry_set_pathname(entry, e.name.toUtf8().constData());
        archive_entry_set_filetype(entry, e.type == ZipEntry::Type::File     ? AE_IFREG
                                          : e.type == ZipEntry::Type::Folder ? AE_IFDIR
                                                                             : AE_IFLNK);
        if (e.type == ZipEntry::Type::File)
            archive_entry_set_size(entry, e.data.size());
        if (e.type == ZipEntry::Type::Symlink)
            archive_entry_set_symlink(entry, e.data.constData());
        archive_entry_set_perm(entry, e.mode);
        archive_entry_set_mtime(entry, 1700000000, 0);
        archive_write_header(a, entry);
        if (e.type == ZipEntry::Type::File && !e.data.isEmpty())
            archive_write_data(a, e.data.constData(), size_t(e.data.size()));
        archive_entry_free(entry);
    }
    archive_write_close(a);
    archive_write_free(a);
    return zip;
}

QByteArray engineZip(const QString &executableName, const QByteArray &marker)
{
    return buildZip({ZipEntry::folder("_internal/"),
                     ZipEntry::file("_internal/base_library.txt", "helper " + marker),
                     ZipEntry::file("_internal/helper", "#!/bin/sh\n", 04755),
                     ZipEntry::file("_internal/notes.txt", "read me", 0640),
                     ZipEntry::symlink("_internal/alias", "base_library.txt"),
                     ZipEntry::symlink("_internal/up", "../" + executableName),
                     ZipEntry::file(executableName, "#!/bin/sh\necho " + marker + "\n")},
                    true);
}
