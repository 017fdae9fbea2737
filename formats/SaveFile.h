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
class TAtomicFileWriter {
public:
    explicit TAtomicFileWriter(std::string path);
    ~TAtomicFileWriter();
    TAtomicFileWriter(const TAtomicFileWriter&) = delete;
    TAtomicFileWriter& operator=(const TAtomicFileWriter&) = delete;

    // Appends at the end of what was written so far.
    void Write(const void* data, std::size_t size);
    // Overwrites bytes already written (a header whose sizes are known only at the end).
    void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
    // Flushes the file to the disk and gives it the target's name, replacing what stood there.
    void Commit();

    const std::string& Path() const { return path_; }
    const std::string& TempPath() const { return temp_; }

private:
    [[noreturn]] void Fail(int error);

    std::string path_;
    std::string temp_;
    int fd_ = -1;
    bool committed_ = false;
};

// Raises Exception with a Japanese message naming the file when it cannot be written.
void SaveFileAtomically(const std::string& path, const std::vector<std::uint8_t>& bytes);
