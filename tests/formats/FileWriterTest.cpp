// The file writers: the streaming writer under SaveFileAtomically (nothing at the target until
// Commit, nothing left over when it is abandoned, the mode a plain create would give), and the WAV
// header and writer on top of it.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <functional>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "song/Exception.h"
#include "formats/SaveFile.h"
#include "formats/Wav.h"

namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The writer's temporary files in folder.
std::size_t TempFilesIn(const std::string& folder)
{
    std::size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        count += entry.path().filename().string().rfind(".quaverly-", 0) == 0;
    return count;
}

struct AtomicFileWriter : testing::Test {
    std::string dir;
    void SetUp() override
    {
        char pattern[] = "/tmp/quaverly-writer-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::size_t FileCount() const
    {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir), {}));
    }
};

TEST_F(AtomicFileWriter, TargetChangesOnlyAtCommit)
{
    const std::string path = dir + "/song.wav";
    std::ofstream(path) << "old";
    {
        TAtomicFileWriter file(path);
        file.Write("0123456789", 10);
        file.WriteAt(2, "ab", 2);
        EXPECT_EQ(Slurp(path), "old");
        EXPECT_EQ(Slurp(file.TempPath()), "01ab456789");
        file.Commit();
    }
    EXPECT_EQ(Slurp(path), "01ab456789");
    EXPECT_EQ(FileCount(), 1u);

    {
        TAtomicFileWriter abandoned(path);  // a cancel, or an error on the way
        abandoned.Write("new", 3);
    }
    EXPECT_EQ(Slurp(path), "01ab456789");
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(AtomicFileWriter, NewFileGetsTheModeOfAPlainCreate)
{
    const mode_t old = umask(027);
    SaveFileAtomically(dir + "/a.mid", {1, 2, 3});
    umask(old);
    struct stat info {};
    ASSERT_EQ(stat((dir + "/a.mid").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

TEST_F(AtomicFileWriter, FailureNamesTheTarget)
{
    try {
        TAtomicFileWriter file(dir + "/missing/a.wav");
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "ファイルに書き込めません: " + dir + "/missing/a.wav (No such file or directory)");
    }
}

std::string Header(int channels, int rate, std::uint32_t bytes)
{
    const auto header = WavHeader(channels, rate, bytes);
    return {header.begin(), header.end()};
}

// What stands at the target decides how it is written: a link is followed, a file keeps its
// mode, a read-only one is refused, a FIFO or a device is written directly and stays what it is.
TEST_F(AtomicFileWriter, WritesThroughWhatStandsAtTheTarget)
{
    std::filesystem::create_directory(dir + "/real");
    struct Case {
        const char* name;
        std::function<void()> make;  // what stands at dir/target before the save
        std::string file;            // where the bytes must arrive
        mode_t mode;                 // that file's mode afterwards
    };
    const std::string target = dir + "/target";
    const Case cases[] = {
        {"private file", [&] { std::ofstream(target) << "old"; chmod(target.c_str(), 0600); }, target, 0600},
        {"group file", [&] { std::ofstream(target) << "old"; chmod(target.c_str(), 0640); }, target, 0640},
        {"link to a private file in another folder",
         [&] {
             std::ofstream(dir + "/real/song.mid") << "old";
             chmod((dir + "/real/song.mid").c_str(), 0600);
             ASSERT_EQ(symlink("real/song.mid", target.c_str()), 0);
         },
         dir + "/real/song.mid", 0600},
        {"chain of links", [&] {
             std::ofstream(dir + "/real/song.mid") << "old";
             chmod((dir + "/real/song.mid").c_str(), 0644);
             ASSERT_EQ(symlink("../real/song.mid", (dir + "/real/link").c_str()), 0);
             ASSERT_EQ(symlink((dir + "/real/link").c_str(), target.c_str()), 0);
         },
         dir + "/real/song.mid", 0644},
        {"dangling link", [&] { ASSERT_EQ(symlink("real/new.mid", target.c_str()), 0); }, dir + "/real/new.mid", 0},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(target);
        std::filesystem::remove_all(dir + "/real");
        std::filesystem::create_directory(dir + "/real");
        c.make();
        SaveFileAtomically(target, {'n', 'e', 'w'});
        EXPECT_EQ(Slurp(c.file), "new") << c.name;
        struct stat info {};
        ASSERT_EQ(stat(c.file.c_str(), &info), 0) << c.name;
        if (c.mode != 0) {
            EXPECT_EQ(info.st_mode & 07777, c.mode) << c.name;
        }
        struct stat link {};
        ASSERT_EQ(lstat(target.c_str(), &link), 0) << c.name;
        // A link stays a link, and no temporary file is left beside either file.
        EXPECT_EQ(S_ISLNK(link.st_mode), c.file != target) << c.name;
        EXPECT_EQ(TempFilesIn(dir) + TempFilesIn(dir + "/real"), 0u) << c.name;
    }
}

TEST_F(AtomicFileWriter, RefusesAReadOnlyFileEvenForRoot)
{
    const std::string path = dir + "/kept.mid";
    std::ofstream(path) << "old";
    chmod(path.c_str(), 0444);
    try {
        SaveFileAtomically(path, {'n', 'e', 'w'});
        ADD_FAILURE() << "a read-only file was replaced";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "読み取り専用のファイルには書き込めません: " + path);
    }
    EXPECT_EQ(Slurp(path), "old");
    EXPECT_EQ(FileCount(), 1u);
}

TEST_F(AtomicFileWriter, WritesAFifoOrADeviceDirectly)
{
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    // A reader is there first, so opening the FIFO for writing does not wait.
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    {
        TWavWriter wav(fifo, 1, 8000);
        const std::int16_t samples[] = {1, 2};
        wav.Write(samples, 2);
        wav.Commit();
    }
    char got[64] = {};
    ASSERT_EQ(read(reader, got, sizeof got), 48);
    close(reader);
    // A stream cannot be gone back into: its header gives the largest sizes, as streaming writers do.
    EXPECT_EQ(std::string(got, 48), Header(1, 8000, static_cast<std::uint32_t>(WavMaxDataBytes)) + std::string("\1\0\2\0", 4));
    struct stat info {};
    ASSERT_EQ(lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));

    // A device node (made where the test may: as root) is written, never replaced.
    const std::string device = dir + "/null";
    if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) {
        SaveFileAtomically(device, {1, 2, 3});
        ASSERT_EQ(lstat(device.c_str(), &info), 0);
        EXPECT_TRUE(S_ISCHR(info.st_mode));
    }
    EXPECT_EQ(TempFilesIn(dir), 0u);
}

// The temporary name is short and ours: a target name as long as the system allows still saves,
// and a temporary file a killed writer left is removed at the next save into its folder, unless a
// live writer holds it.
TEST_F(AtomicFileWriter, TemporaryNamesAreShortRecognisableAndCleanedUp)
{
    const std::string longName = dir + "/" + std::string(250, 'n') + ".mid";
    {
        TAtomicFileWriter file(longName);
        const std::string temp = std::filesystem::path(file.TempPath()).filename().string();
        EXPECT_EQ(temp.size(), std::string(".quaverly-XXXXXX.tmp").size()) << temp;
        EXPECT_EQ(temp.rfind(".quaverly-", 0), 0u) << temp;
        EXPECT_EQ(temp.substr(temp.size() - 4), ".tmp") << temp;
        file.Write("x", 1);
        file.Commit();
    }
    EXPECT_EQ(Slurp(longName), "x");

    const std::string stale = dir + "/.quaverly-AbC123.tmp", held = dir + "/.quaverly-HeLd00.tmp";
    const std::string others[] = {dir + "/.quaverly-AbC123.tmp.bak", dir + "/quaverly-AbC123.tmp", dir + "/.quaverly-AbC12.tmp"};
    for (const std::string& name : {stale, held, others[0], others[1], others[2]}) std::ofstream(name) << "left";
    const int lock = open(held.c_str(), O_RDONLY);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    SaveFileAtomically(dir + "/next.mid", {1});
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_TRUE(std::filesystem::exists(held));
    for (const std::string& name : others) EXPECT_TRUE(std::filesystem::exists(name)) << name;
    close(lock);
}


TEST(Wav, HeaderDescribesSixteenBitPcm)
{
    EXPECT_EQ(Header(2, 44100, 8),
              std::string("RIFF\x2C\0\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xAC\0\0\x10\xB1\x02\0\x04\0\x10\0data\x08\0\0\0", 44));
    EXPECT_EQ(Header(2, 48000, 0x12345678),
              std::string("RIFF\x9C\x56\x34\x12WAVEfmt \x10\0\0\0\x01\0\x02\0\x80\xBB\0\0\0\xEE\x02\0\x04\0\x10\0data\x78\x56\x34\x12", 44));
    EXPECT_EQ(Header(1, 8000, 0), std::string("RIFF\x24\0\0\0WAVEfmt \x10\0\0\0\x01\0\x01\0\x40\x1F\0\0\x80\x3E\0\0\x02\0\x10\0data\0\0\0\0", 44));
}

TEST(Wav, WriterFillsInTheSizesAndRefusesTooMuch)
{
    const std::string path = testing::TempDir() + "quaverly_wav_test.wav";
    {
        TWavWriter wav(path, 2, 44100);
        const std::int16_t samples[] = {1, -1, 0x1234, -32768};
        wav.Write(samples, 4);
        EXPECT_EQ(wav.Frames(), 2u);
        // More than the 32-bit sizes of the header can describe: refused before anything is read.
        EXPECT_THROW(wav.Write(samples, WavMaxDataBytes / 2), Exception);
        wav.Commit();
    }
    EXPECT_EQ(Slurp(path), Header(2, 44100, 8) + std::string("\x01\0\xFF\xFF\x34\x12\0\x80", 8));
    unlink(path.c_str());
}

}  // namespace
