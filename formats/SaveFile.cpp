#include "SaveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "Exception.h"

namespace {
[[noreturn]] void Raise(const std::string& path, int error)
{
    throw Exception("ファイルに書き込めません: " + path + " (" + std::strerror(error) + ")");
}

// A fresh name beside path: path + "." + six random letters or digits.
std::string TempName(const std::string& path)
{
    static constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string name = path + ".";
    for (int i = 0; i < 6; ++i) name += letters[random() % (sizeof letters - 1)];
    return name;
}
}  // namespace

TAtomicFileWriter::TAtomicFileWriter(std::string path) : path_(std::move(path))
{
    // Created with the mode a plain create would give the file, so the kernel applies the umask
    // (and any default ACL) itself. Changing the umask to read it would race with other threads
    // of the program creating files meanwhile.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = TempName(path_);
        fd_ = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd_ >= 0) {
            temp_ = std::move(name);
            return;
        }
        if (errno != EEXIST) Raise(path_, errno);
    }
    Raise(path_, EEXIST);
}

TAtomicFileWriter::~TAtomicFileWriter()
{
    if (fd_ >= 0) close(fd_);
    if (!committed_ && !temp_.empty()) unlink(temp_.c_str());
}

void TAtomicFileWriter::Fail(int error)
{
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
    unlink(temp_.c_str());
    temp_.clear();
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
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t n = pwrite(fd_, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail(n < 0 ? errno : ENOSPC);
        done += static_cast<std::size_t>(n);
    }
}

void TAtomicFileWriter::Commit()
{
    if (fd_ < 0) Raise(path_, EBADF);
    if (fsync(fd_) != 0) Fail(errno);
    const int fd = fd_;
    fd_ = -1;
    if (close(fd) != 0) Fail(errno);
    if (std::rename(temp_.c_str(), path_.c_str()) != 0) Fail(errno);
    committed_ = true;
}

void SaveFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    TAtomicFileWriter file(path);
    file.Write(bytes.data(), bytes.size());
    file.Commit();
}
