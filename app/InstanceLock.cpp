#include "InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDir>
#include <QStandardPaths>
#include <cerrno>

TInstanceLock::~TInstanceLock()
{
    if (fd_ >= 0) ::close(fd_);
}

TInstanceLock::TResult TInstanceLock::Acquire(const char* path)
{
    if (fd_ >= 0) return Acquired;
    const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return Unavailable;
    // flock, not fcntl: its lock belongs to this open file, so it also holds against another
    // open of the same file within one process, and a child started by the program does not
    // inherit it (O_CLOEXEC).
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) continue;
        const int error = errno;
        ::close(fd);
        return error == EWOULDBLOCK ? HeldElsewhere : Unavailable;
    }
    fd_ = fd;
    return Acquired;
}

std::string InstanceLockPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    return QDir(dir).filePath(QStringLiteral("TestMutex")).toStdString();
}
