// A save that the process does not live to finish leaves the file that was there before, byte for
// byte.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/formats/KillDuringWrite.h"
#include "formats/SaveFile.h"

namespace {

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The sizes of the files in dir other than name.
std::vector<long> OtherFiles(const std::string& dir, const std::string& name)
{
    std::vector<long> sizes;
    DIR* d = opendir(dir.c_str());
    if (d == nullptr) return sizes;
    while (const dirent* entry = readdir(d)) {
        const std::string file = entry->d_name;
        struct stat info {};
        if (file == name || stat((dir + "/" + file).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        sizes.push_back(static_cast<long>(info.st_size));
    }
    closedir(d);
    return sizes;
}

TEST(InterruptedSave, KillingTheWriterLeavesTheOldFileIntact)
{
    char pattern[] = "/tmp/quaverly-save-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const std::string dir = pattern, path = dir + "/song.mid";
    const std::vector<std::uint8_t> before = {'o', 'l', 'd', 0, 0xFF};
    SaveFileAtomically(path, before);

    const std::vector<std::uint8_t> after(1 << 20, 0x5A);
    EXPECT_EQ(kill_during_write::Run(64 * 1024, [&] { SaveFileAtomically(path, after); }), SIGKILL);
    EXPECT_EQ(Slurp(path), std::string(before.begin(), before.end()));
    // The half-written copy is what the kill left behind, under a name of its own.
    EXPECT_EQ(OtherFiles(dir, "song.mid"), std::vector<long>{64 * 1024});

    // The next save into the folder knows the leftover for one of its own that no one writes any
    // more, and removes it.
    SaveFileAtomically(path, after);
    EXPECT_EQ(Slurp(path).size(), after.size());
    EXPECT_EQ(OtherFiles(dir, "song.mid"), std::vector<long>{});
    std::filesystem::remove_all(dir);
}

}  // namespace
