// The file writers: the streaming writer under SaveFileAtomically (nothing at the target until
// Commit, nothing left over when it is abandoned, the mode a plain create would give), and the WAV
// header and writer on top of it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "Exception.h"
#include "SaveFile.h"
#include "Wav.h"

namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
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
