#include "settings/regularfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <cerrno>
#include <cstring>

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

QString reasonFor(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR:
            return QStringLiteral("файл не найден");
        case EACCES:
        case EPERM:
            return QStringLiteral("нет прав на чтение файла");
        default:
            return QStringLiteral("ошибка чтения (%1)")
                .arg(QString::fromLocal8Bit(strerror(error)));
    }
}

QString sizeText(qint64 bytes) {
    return bytes >= 1024 * 1024 ? QStringLiteral("%1 МБ").arg(bytes / (1024 * 1024))
                                : QStringLiteral("%1 КБ").arg(bytes / 1024);
}

RegularFileRead refused(QString reason, bool missing = false) {
    return {std::nullopt, std::move(reason), missing};
}

}  // namespace

RegularFileRead readRegularFile(const QString& path, qint64 maxBytes) {
    // Non-blocking, so that opening a pipe nobody writes to returns at once; the type is
    // then checked on what was opened, not on a name that may have changed meanwhile.
    const FileDescriptor fd(
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        const int error = errno;
        return refused(reasonFor(error), error == ENOENT);
    }
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0) return refused(reasonFor(errno));
    if (!S_ISREG(info.st_mode)) return refused(QStringLiteral("это не обычный файл"));
    if (info.st_size > maxBytes)
        return refused(QStringLiteral("файл больше %1").arg(sizeText(maxBytes)));
    QByteArray bytes(static_cast<qsizetype>(info.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t got = ::read(fd.get(), bytes.data() + done, bytes.size() - done);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return refused(reasonFor(errno));
        if (got == 0) break;  // the file shrank while it was read
        done += got;
    }
    bytes.truncate(done);
    return {std::move(bytes), {}, false};
}
