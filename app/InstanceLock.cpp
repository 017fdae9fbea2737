#include "app/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <cerrno>
#include <climits>
#include <cstring>

namespace {

// Whether the folder holding path belongs to this user alone: a real folder (not a symbolic link
// to one), owned by this user, and writable by nobody else. Anyone who could write there could
// make or hold the lock file before this program does.
bool FolderIsOwn(const char* path)
{
    char folder[PATH_MAX];
    const char* slash = std::strrchr(path, '/');
    if (slash == nullptr) {
        std::strcpy(folder, ".");
    } else {
        const std::size_t length = slash == path ? 1 : static_cast<std::size_t>(slash - path);
        if (length >= sizeof folder) return false;
        std::memcpy(folder, path, length);
        folder[length] = '\0';
    }
    struct stat info {};
    if (::lstat(folder, &info) != 0) return true;  // no folder: the open below fails (Unavailable)
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace

TInstanceLock::~TInstanceLock()
{
    if (fd_ >= 0) ::close(fd_);
}

TInstanceLock::TResult TInstanceLock::Acquire(const char* path)
{
    if (fd_ >= 0) return Acquired;
    if (!FolderIsOwn(path)) return UnsafeFolder;
    const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
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
    if (dir.isEmpty()) {
        dir = QDir(QDir::tempPath()).filePath(QStringLiteral("quaverly-%1").arg(::getuid()));
        // An existing folder is left as it is; Acquire refuses it unless it is this user's.
        ::mkdir(QFile::encodeName(dir).constData(), 0700);
    }
    return QDir(dir).filePath(QStringLiteral("TestMutex")).toStdString();
}
