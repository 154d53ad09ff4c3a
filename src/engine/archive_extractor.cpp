#include "engine/archive_extractor.h"

#include "engine/release_feed.h"

#include <QDir>
#include <QStringList>

#include <archive.h>
#include <archive_entry.h>

#include <memory>

namespace {

struct ReadCloser {
    void operator()(archive *a) const { archive_read_free(a); }
};
struct WriteCloser {
    void operator()(archive *a) const { archive_write_free(a); }
};

constexpr size_t kReadBlock = size_t(1) << 20;

// The entry's name as stored; absolute names and ".." steps are refused before libarchive
// sees the full path we give it.
bool safeEntryName(const QString &name)
{
    return !name.isEmpty() && !name.startsWith(u'/') && staysInside(QString(), name);
}

} // namespace

bool staysInside(const QString &base, const QString &name)
{
    if (name.startsWith(u'/'))
        return false;
    QStringList parts = base.split(u'/', Qt::SkipEmptyParts);
    for (const QString &step : name.split(u'/', Qt::SkipEmptyParts)) {
        if (step == u".")
            continue;
        if (step == u"..") {
            if (parts.isEmpty())
                return false;
            parts.removeLast();
            continue;
        }
        parts.append(step);
    }
    return true;
}

Status extractZipArchive(const QString &archivePath, const QString &targetFolder,
                         const CancelToken &cancel)
{
    const std::unique_ptr<archive, ReadCloser> reader(archive_read_new());
    archive_read_support_format_zip(reader.get());
    if (archive_read_open_filename(reader.get(), QFile::encodeName(archivePath).constData(),
                                   kReadBlock)
        != ARCHIVE_OK)
        return InstallErrors::badRelease();

    const std::unique_ptr<archive, WriteCloser> writer(archive_write_disk_new());
    // SECURE_SYMLINKS refuses to write through a link made by an earlier entry; names and
    // link targets are checked here because the full paths handed over are absolute.
    archive_write_disk_set_options(writer.get(), ARCHIVE_EXTRACT_PERM | ARCHIVE_EXTRACT_TIME
                                                     | ARCHIVE_EXTRACT_SECURE_SYMLINKS
                                                     | ARCHIVE_EXTRACT_SECURE_NODOTDOT);

    const QString root = QDir(targetFolder).absolutePath();
    archive_entry *entry = nullptr;
    while (true) {
        if (cancel.isCancelled())
            return CancelToken::stopped();
        const int status = archive_read_next_header(reader.get(), &entry);
        if (status == ARCHIVE_EOF)
            break;
        if (status != ARCHIVE_OK)
            return InstallErrors::badRelease();

        const char *rawName = archive_entry_pathname(entry);
        const QString name = rawName ? QFile::decodeName(rawName) : QString();
        if (!safeEntryName(name))
            return InstallErrors::badRelease();
        const mode_t type = archive_entry_filetype(entry);
        const char *hardlink = archive_entry_hardlink(entry);
        if (hardlink) {
            const QString target = QFile::decodeName(hardlink);
            if (!safeEntryName(target))
                return InstallErrors::badRelease();
            archive_entry_copy_hardlink(entry, QFile::encodeName(root + u'/' + target).constData());
        } else if (type == AE_IFLNK) {
            const char *rawTarget = archive_entry_symlink(entry);
            const QString target = rawTarget ? QFile::decodeName(rawTarget) : QString();
            const qsizetype slash = name.lastIndexOf(u'/');
            const QString parent = slash < 0 ? QString() : name.left(slash);
            if (target.isEmpty() || !staysInside(parent, target))
                return InstallErrors::badRelease();
        } else if (type != AE_IFREG && type != AE_IFDIR) {
            return InstallErrors::badRelease();
        }
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        archive_entry_copy_pathname(entry, QFile::encodeName(root + u'/' + name).constData());

        if (archive_write_header(writer.get(), entry) != ARCHIVE_OK)
            return InstallErrors::badRelease();
        if (archive_entry_size(entry) > 0 || !archive_entry_size_is_set(entry)) {
            const void *block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            while (true) {
                const int read = archive_read_data_block(reader.get(), &block, &size, &offset);
                if (read == ARCHIVE_EOF)
                    break;
                if (read != ARCHIVE_OK || cancel.isCancelled())
                    return cancel.isCancelled() ? Status(CancelToken::stopped())
                                                : Status(InstallErrors::badRelease());
                if (archive_write_data_block(writer.get(), block, size, offset) != ARCHIVE_OK)
                    return InstallErrors::badRelease();
            }
        }
        if (archive_write_finish_entry(writer.get()) != ARCHIVE_OK)
            return InstallErrors::badRelease();
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return InstallErrors::badRelease();
    return Done{};
}
