// Writing a whole file so that it is either complete or not there: the bytes go to a temporary
// file beside the target, are flushed to the disk, and only then take the target's name. A crash,
// a full disk or a cancelled export leaves whatever stood there before untouched.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A file written piece by piece that takes its name only at Commit. Until then the bytes live in
// a temporary file beside the target (same directory, so the rename cannot cross file systems);
// destroying the writer without a Commit removes it. Every failure raises Exception with a
// Japanese message naming the target.
//
// It writes as saving a document does: a symbolic link is followed and the file it names is
// replaced (the temporary file goes beside that file); an existing file keeps its permissions and,
// where the process may set it, its owner; a file without write permission is refused, also for
// root. A target that is not a regular file (a FIFO, a terminal, /dev/null, /dev/stdout) cannot be
// replaced by renaming and is written directly, as is "-", standard output. Temporary files are
// named ".quaverly-XXXXXX.tmp" and locked while written, so those that a killed process left
// behind are recognised and removed at the next write into their folder.
class TAtomicFileWriter {
public:
    explicit TAtomicFileWriter(std::string path);
    ~TAtomicFileWriter();
    TAtomicFileWriter(const TAtomicFileWriter&) = delete;
    TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

    // Appends at the end of what was written so far.
    void Write(const void* data, std::size_t size);
    // Overwrites bytes already written (a header whose sizes are known only at the end). Only a
    // seekable target takes it.
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
    // Flushes the file to the disk and gives it the target's name, replacing what stood there.
    void Commit();

    // Whether WriteAt can reach back: false for a pipe, a FIFO or a terminal.
    bool Seekable() const { return seekable_; }
    const std::string& Path() const { return path_; }
    // Empty when the target is written directly.
    const std::string& TempPath() const { return temp_; }

private:
    [[noreturn]] void Fail(int error);
    void OpenDirect(const std::string& target);

    std::string path_;
    std::string temp_;
    std::string target_;  // the file that takes the bytes: path_ with its links followed
    int fd_ = -1;
    bool direct_ = false;
    bool seekable_ = true;
    std::uint64_t base_ = 0;  // where the bytes start in a direct target (standard output may be
                              // a file already partly written)
    bool committed_ = false;
};

// Raises Exception with a Japanese message naming the file when it cannot be written.
void SaveFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);
