// Every seed and every kept finding of the fuzz targets, fed to the same entry functions the fuzzers
// run: a finding that comes back fails here, in the ordinary suite and under its sanitizers.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzTargets.h"

namespace {

namespace fs = std::filesystem;

struct Target {
    std::string Name;
    void (*Run)(std::string_view bytes);
};

const Target kTargets[] = {
    {"compile", FuzzCompile},
    {"rtf", FuzzRtf},
    {"decode", FuzzDecode},
    {"export", FuzzExport},
#ifdef QUAVERLY_FUZZ_SETTINGS
    {"settings", FuzzSettings},
#endif
};

// The folders of corpora.txt for one target, and its regressions folder.
std::vector<fs::path> InputFolders(const std::string& target)
{
    std::vector<fs::path> folders{fs::path("tests/fuzz/regressions") / target};
    std::ifstream list("tests/fuzz/corpora.txt");
    EXPECT_TRUE(list) << "tests/fuzz/corpora.txt";
    std::string line;
    while (std::getline(list, line)) {
        std::istringstream words(line);
        std::string name;
        std::string dictionary;
        if (!(words >> name >> dictionary) || name != target) continue;
        for (std::string folder; words >> folder;) folders.emplace_back(folder);
    }
    return folders;
}

std::vector<fs::path> FilesIn(const std::vector<fs::path>& folders)
{
    std::vector<fs::path> files;
    for (const fs::path& folder : folders) {
        if (!fs::is_directory(folder)) continue;
        for (const auto& entry : fs::recursive_directory_iterator(folder))
            if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

TEST(FuzzRegressions, EverySeedAndFindingPassesItsTarget)
{
    ThrowFuzzFindings();
    for (const Target& target : kTargets) {
        const auto files = FilesIn(InputFolders(target.Name));
        // Every target has seeds; none at all means the folders were not found.
        EXPECT_FALSE(files.empty()) << target.Name;
        for (const fs::path& file : files) {
            try {
                target.Run(ReadBytes(file));
            } catch (const FuzzFinding& finding) {
                ADD_FAILURE() << target.Name << ": " << file.string() << ": " << finding.what();
            }
        }
    }
}

}  // namespace
