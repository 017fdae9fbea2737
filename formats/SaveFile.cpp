#include "formats/SaveFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "song/Exception.h"

namespace {

// "-" is standard output; the messages say so rather than show a dash.
std::string ShownName(const std::string& path) { return path == "-" ? "標準出力" : path; }

[[noreturn]] void Raise(const std::string& path, int error)
{
    throw Exception("ファイルに書き込めません: " + ShownName(path) + " (" + std::strerror(error) + ")");
}

constexpr char TempPrefix[] = ".quaverly-";
constexpr char TempSuffix[] = ".tmp";
constexpr std::size_t TempRandomLetters = 6;

// The folder part of a path, with its slash ("" for a bare name), so that folder + name is a path.
std::string FolderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A fresh temporary name in folder. Short whatever the target's name is, so a target whose name
// is as long as the system allows still has a temporary name that fits.
std::string TempName(const std::string& folder)
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string name = folder + TempPrefix;
    for (std::size_t i = 0; i < TempRandomLetters; ++i) name += letters[random() % (sizeof letters - 1)];
    return name + TempSuffix;
}

bool IsTempName(const char* name)
{
    const std::size_t prefix = sizeof TempPrefix - 1, suffix = sizeof TempSuffix - 1;
    const std::size_t length = std::strlen(name);
    return length == prefix + TempRandomLetters + suffix && std::strncmp(name, TempPrefix, prefix) == 0 &&
           std::strcmp(name + prefix + TempRandomLetters, TempSuffix) == 0;
}

// Removes the temporary files in folder that a writer of this user left behind when it was killed:
// ours by name and owner, regular files, and not locked, which a live writer's always is.
void RemoveStaleTempFiles(const std::string& folder)
{
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = readdir(dir)) {
        if (!IsTempName(entry->d_name)) continue;
        const std::string name = folder + entry->d_name;
        const int fd = open(name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat info {};
        if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
            flock(fd, LOCK_EX | LOCK_NB) == 0) {
            // Still the file just locked: a writer that lost its name in between makes another.
            struct stat now {};
            if (lstat(name.c_str(), &now) == 0 && now.st_ino == info.st_ino && now.st_dev == info.st_dev)
                unlink(name.c_str());
        }
        close(fd);
    }
    closedir(dir);
}

// path with its symbolic links followed to the name that is finally not a link (which need not
// exist yet: a dangling link is written through, as a plain create would). Raises ELOOP.
std::string FollowLinks(const std::string& path)
{
    std::string target = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat info {};
        if (lstat(target.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return target;
        std::string link(static_cast<std::size_t>(info.st_size > 0 ? info.st_size : 255) + 1, '\0');
        const ssize_t length = readlink(target.c_str(), link.data(), link.size());
        if (length < 0) Raise(path, errno);
        if (static_cast<std::size_t>(length) >= link.size()) Raise(path, ENAMETOOLONG);
        link.resize(static_cast<std::size_t>(length));
        target = !link.empty() && link[0] == '/' ? link : FolderOf(target) + link;
    }
    Raise(path, ELOOP);
}

// Whether the file may not be written: its mode bits, read here rather than left to the system,
// since root may write any file and would otherwise replace one its owner made read-only.
bool ReadOnly(const std::string& target, const struct stat& info)
{
    if (geteuid() == 0) return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
    return faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES;
}

}  // namespace

TAtomicFileWriter::TAtomicFileWriter(std::string path) : path_(std::move(path))
{
    if (path_ == "-") {
        const int fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
        if (fd < 0) Raise(path_, errno);
        fd_ = fd;
        direct_ = true;
        const off_t at = lseek(fd_, 0, SEEK_CUR);
        seekable_ = at >= 0;
        base_ = at >= 0 ? static_cast<std::uint64_t>(at) : 0;
        return;
    }
    target_ = FollowLinks(path_);
    struct stat info {};
    const bool exists = stat(target_.c_str(), &info) == 0;
    if (exists && !S_ISREG(info.st_mode) && !S_ISDIR(info.st_mode)) {
        OpenDirect(target_);
        return;
    }
    if (exists && S_ISREG(info.st_mode) && ReadOnly(target_, info))
        throw Exception("読み取り専用のファイルには書き込めません: " + path_);

    const std::string folder = FolderOf(target_);
    RemoveStaleTempFiles(folder);
    // A new file is created with the mode a plain create would give it, so the kernel applies the
    // umask (and any default ACL) itself; changing the umask to read it would race with other
    // threads of the program creating files meanwhile. A replaced file keeps its own.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TempName(folder);
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, exists ? 0600 : 0666);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            Raise(path_, errno);
        }
        // Locked from here to the rename, which marks the file as in use to RemoveStaleTempFiles.
        // One that lost the race for it (took the lock first, or removed it before the lock)
        // leaves this name to be given up for another.
        struct stat mine {}, named {};
        if (flock(fd, LOCK_EX | LOCK_NB) != 0 || fstat(fd, &mine) != 0 || lstat(name.c_str(), &named) != 0 ||
            mine.st_ino != named.st_ino || mine.st_dev != named.st_dev) {
            close(fd);
            continue;
        }
        fd_ = fd;
        temp_ = std::move(name);
        if (exists) {
            // The owner first: changing it clears the set-user and set-group bits, which the
            // mode then puts back. Only root may give a file away; anyone else keeps their own.
            if (fchown(fd_, info.st_uid, info.st_gid) != 0 && errno != EPERM) Fail(errno);
            if (fchmod(fd_, info.st_mode & 07777) != 0) Fail(errno);
        }
        return;
    }
    Raise(path_, EEXIST);
}

void TAtomicFileWriter::OpenDirect(const std::string& target)
{
    fd_ = open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd_ < 0) Raise(path_, errno);
    direct_ = true;
    struct stat info {};
    seekable_ = fstat(fd_, &info) == 0 && S_ISBLK(info.st_mode);
}

TAtomicFileWriter::~TAtomicFileWriter()
{
    // An abandoned temporary file goes before it is unlocked, so no one else ever removes it.
    if (!committed_ && !temp_.empty()) unlink(temp_.c_str());
    if (fd_ >= 0) close(fd_);
}

void TAtomicFileWriter::Fail(int error)
{
    if (!temp_.empty()) unlink(temp_.c_str());
    temp_.clear();
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    Raise(path_, error);
}

void TAtomicFileWriter::Write(const void* data, std::size_t size)
{
    if (fd_ < 0) Raise(path_, EBADF);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = write(fd_, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail(n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
}

void TAtomicFileWriter::WriteAt(std::uint64_t offset, const void* data, std::size_t size)
{
    if (fd_ < 0) Raise(path_, EBADF);
    if (!seekable_) Fail(ESPIPE);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd_, bytes + done, size - done, static_cast<off_t>(base_ + offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail(n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
}

void TAtomicFileWriter::Commit()
{
    if (fd_ < 0) Raise(path_, EBADF);
    if (direct_) {
        // A regular file behind standard output is flushed like any other; a pipe or a device has
        // nothing to flush.
        struct stat info {};
        if (fstat(fd_, &info) == 0 && S_ISREG(info.st_mode) && fsync(fd_) != 0) Fail(errno);
        const int fd = fd_;
        fd_ = -1;
        committed_ = true;
        if (close(fd) != 0 && errno != EINTR) Raise(path_, errno);
        return;
    }
    if (fsync(fd_) != 0) Fail(errno);
    // Renamed while still locked, so the file is never an unlocked temporary that another
    // writer's clean-up could take for a leftover.
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) Fail(errno);
    committed_ = true;
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0 && errno != EINTR) Raise(path_, errno);
}

void SaveFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    TAtomicFileWriter file(path);
    file.Write(bytes.data(), bytes.size());
    file.Commit();
}
