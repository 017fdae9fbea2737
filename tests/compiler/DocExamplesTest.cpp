// The language reference (docs/mml.md) shows what the compiler does by example. Every fenced code
// block in it is compiled here and checked against the comment the document writes right after
// it, so that a change to the compiler that breaks an example, or an example that is wrong, fails.
//
// The comment, invisible when the document is rendered:
//   <!-- expect
//   error: 和音のディレイが長すぎます( 行 : 1 )   the error box's text (none expected without it)
//   events:                                        then one event a line, the whole list
//   0 90 60 127
//   count: 12                                      the number of events
//   has: 480 80 60 127                             one of the events (repeatable)
//   memo: [A]   cd                                 one line of the message pane (repeatable)
//   -->
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "tests/compiler/CompileFixture.h"

namespace {

struct Expectation {
    bool HasEvents = false;
    std::vector<std::string> Events;
    int Count = -1;
    std::vector<std::string> Has;
    std::vector<std::string> Memo;
    std::string Error;
};

struct Example {
    int Line = 0;  // of the opening fence in the document
    std::string Mml;
    bool Expected = false;
    Expectation Expect;
};

std::string Trim(const std::string& s)
{
    const auto begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    const auto end = s.find_last_not_of(" \t\r\n");
    return s.substr(begin, end - begin + 1);
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Reads the checks of one comment, "<!-- expect" up to "-->"; false when a line is none of them.
bool ParseExpectation(const std::vector<std::string>& lines, std::size_t& i, Expectation& expect, std::string& bad)
{
    bool inEvents = false;
    for (++i; i < lines.size(); ++i) {
        const std::string line = Trim(lines[i]);
        if (line == "-->") return true;
        if (line.empty()) continue;
        const auto value = [&](std::size_t prefix) { return Trim(line.substr(prefix)); };
        if (StartsWith(line, "error:")) {
            expect.Error = value(6);
            inEvents = false;
        } else if (StartsWith(line, "events:")) {
            expect.HasEvents = true;
            inEvents = true;
        } else if (StartsWith(line, "count:")) {
            expect.Count = std::stoi(value(6));
            inEvents = false;
        } else if (StartsWith(line, "has:")) {
            expect.Has.push_back(value(4));
            inEvents = false;
        } else if (StartsWith(line, "memo:")) {
            expect.Memo.push_back(value(5));
            inEvents = false;
        } else if (inEvents) {
            expect.Events.push_back(line);
        } else {
            bad = line;
            return false;
        }
    }
    bad = "no closing -->";
    return false;
}

std::vector<Example> ReadExamples(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    EXPECT_TRUE(file) << "cannot read " << path;
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    std::vector<Example> examples;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!StartsWith(Trim(lines[i]), "```")) continue;
        Example example;
        example.Line = static_cast<int>(i + 1);
        for (++i; i < lines.size() && !StartsWith(Trim(lines[i]), "```"); ++i) {
            std::string line = lines[i];
            if (!line.empty() && line.back() == '\r') line.pop_back();
            example.Mml += line + "\n";
        }
        // The expectation follows the closing fence, blank lines allowed between.
        std::size_t next = i + 1;
        while (next < lines.size() && Trim(lines[next]).empty()) ++next;
        if (next < lines.size() && Trim(lines[next]) == "<!-- expect") {
            std::string bad;
            i = next;
            example.Expected = ParseExpectation(lines, i, example.Expect, bad);
            EXPECT_TRUE(example.Expected) << path << ":" << example.Line << ": unreadable expectation: " << bad;
        }
        examples.push_back(std::move(example));
    }
    return examples;
}

TEST(DocExamples, EveryExampleCompilesAsTheReferenceSays)
{
    const std::vector<Example> examples = ReadExamples("docs/mml.md");
    ASSERT_FALSE(examples.empty()) << "no code blocks found in docs/mml.md";
    for (const Example& example : examples) {
        SCOPED_TRACE("docs/mml.md:" + std::to_string(example.Line) + "\n" + example.Mml);
        ASSERT_TRUE(example.Expected) << "the example has no <!-- expect --> comment after it";
        const Expectation& expect = example.Expect;
        EXPECT_TRUE(expect.HasEvents || expect.Count >= 0 || !expect.Has.empty() || !expect.Error.empty())
            << "the expectation checks nothing";

        TMML compiler;
        const Compiled out = Read(compiler.CompileDocument(example.Mml));

        EXPECT_EQ(out.Error, expect.Error);
        if (expect.HasEvents) {
            EXPECT_EQ(out.Events, expect.Events);
        }
        if (expect.Count >= 0) {
            EXPECT_EQ(static_cast<int>(out.Events.size()), expect.Count);
        }
        for (const std::string& event : expect.Has)
            EXPECT_NE(std::find(out.Events.begin(), out.Events.end(), event), out.Events.end()) << "missing event " << event;
        for (const std::string& line : expect.Memo) {
            const bool shown = std::any_of(out.Memo.begin(), out.Memo.end(), [&](const std::string& m) { return Trim(m) == line; });
            EXPECT_TRUE(shown) << "missing pane line " << line;
        }
    }
}

}  // namespace
