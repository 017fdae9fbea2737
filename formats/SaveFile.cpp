#include "SaveFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Exception.h"

namespace {
[[noreturn]] void Fail(const std::string& path, int error)
{
    throw Exception("ファイルに書き込めません: " + path + " (" + std::strerror(error) + ")");
}
}  // namespace

void SaveFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::string temp = path + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) Fail(path, errno);
    // The new file gets the permissions a plain create would give it, not mkstemp's 0600.
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, 0666 & ~mask) != 0) {
        // Only the permissions are off; the content is what matters, so the write goes on.
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            close(fd);
            unlink(temp.c_str());
            Fail(path, error);
        }
        done += static_cast<std::size_t>(n);
    }
    const int synced = fsync(fd) == 0 ? 0 : errno;
    const int closed = close(fd) == 0 ? 0 : errno;
    if (synced != 0 || closed != 0) {
        const int error = synced != 0 ? synced : closed;
        unlink(temp.c_str());
        Fail(path, error);
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        const int error = errno;
        unlink(temp.c_str());
        Fail(path, error);
    }
}
