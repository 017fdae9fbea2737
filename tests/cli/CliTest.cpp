// quaverly-cli events, run as the real program: its output is a contract that tools rely on.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "Json.h"

namespace {

struct CliRun {
    int Status;
    std::string Out;
    std::string Err;
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string TempPath(const std::string& name)
{
    return testing::TempDir() + "quaverly_cli_" + name;
}

// Runs the tool with the given arguments and standard input.
CliRun Cli(const std::string& args, const std::string& input = "")
{
    const std::string in = TempPath("in"), out = TempPath("out"), err = TempPath("err");
    std::ofstream(in, std::ios::binary) << input;
    const std::string command =
        std::string(QUAVERLY_CLI) + " " + args + " <" + in + " >" + out + " 2>" + err;
    const int status = std::system(command.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
}

const char* const Players =
    "{\"player\":1,\"tempo\":120}\n{\"player\":2,\"tempo\":120}\n"
    "{\"player\":3,\"tempo\":120}\n{\"player\":4,\"tempo\":120}\n";

TEST(CliEvents, PrintsEventsPlayersAndError)
{
    const CliRun run = Cli("events -", "c8\r\nd16\nx\n");
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Out,
              "{\"port\":1,\"tick\":0,\"time\":0,\"serial\":0,\"track\":1,\"kind\":\"short\",\"status\":144,\"data1\":60,\"data2\":127}\n"
              "{\"port\":1,\"tick\":240,\"time\":500,\"serial\":1,\"track\":1,\"kind\":\"short\",\"status\":128,\"data1\":60,\"data2\":127}\n"
              "{\"port\":1,\"tick\":240,\"time\":500,\"serial\":2,\"track\":1,\"kind\":\"short\",\"status\":144,\"data1\":62,\"data2\":127}\n"
              "{\"port\":1,\"tick\":360,\"time\":750,\"serial\":3,\"track\":1,\"kind\":\"short\",\"status\":128,\"data1\":62,\"data2\":127}\n" +
                  std::string(Players) + "{\"error\":\"未定義のコマンド( 行 : 3 )\"}\n");
    EXPECT_EQ(run.Err, "");
}

TEST(CliEvents, ReadsFilesInEveryEncodingAndStandardInput)
{
    // "c12" makes a time that is no round number; a final line end starts no further line.
    const std::string expected =
        "{\"port\":1,\"tick\":0,\"time\":0,\"serial\":0,\"track\":1,\"kind\":\"short\",\"status\":144,\"data1\":60,\"data2\":127}\n"
        "{\"port\":1,\"tick\":160,\"time\":333.3333333333333,\"serial\":1,\"track\":1,\"kind\":\"short\",\"status\":128,\"data1\":60,\"data2\":127}\n" +
        std::string(Players);
    const std::string utf8 = TempPath("utf8.mml"), sjis = TempPath("sjis.mml");
    std::ofstream(utf8, std::ios::binary) << "// ふるさと\nc12\n";
    std::ofstream(sjis, std::ios::binary) << "// \x82\xd3\x82\xe9\x82\xb3\x82\xc6\r\nc12\r\n";
    for (const std::string& args : {"events " + utf8, "events " + sjis}) {
        const CliRun run = Cli(args);
        EXPECT_EQ(run.Status, 0) << args;
        EXPECT_EQ(run.Out, expected) << args;
    }
    const CliRun piped = Cli("events", "c12");
    EXPECT_EQ(piped.Out, expected);
    EXPECT_EQ(Cli("events").Out, Players);  // empty input: no events, no error
}

TEST(CliEvents, UsageAndFileErrorsExitTwo)
{
    for (const char* args : {"", "nonsense", "events a b"}) {
        const CliRun run = Cli(args);
        EXPECT_EQ(run.Status, 2) << args;
        EXPECT_EQ(run.Out, "") << args;
        EXPECT_NE(run.Err, "") << args;
    }
    const CliRun missing = Cli("events /nonexistent/piece.mml");
    EXPECT_EQ(missing.Status, 2);
    EXPECT_NE(missing.Err.find("/nonexistent/piece.mml"), std::string::npos);
}

// The example piece uses every construct of the language; its events are checked in, so any change
// in what the compiler makes of it shows here. After a deliberate change, regenerate the file with
// quaverly-cli events examples/kaeru.mml > tests/fixtures/kaeru.events.jsonl and review the diff.
TEST(CliEvents, ExamplePieceMatchesItsGoldenEvents)
{
    const CliRun run = Cli("events examples/kaeru.mml");
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Out, Slurp("tests/fixtures/kaeru.events.jsonl"));
}

TEST(Json, StringsAndNumbers)
{
    EXPECT_EQ(JsonString("[a]  c\r\nd \"q\" \\ \t\x01 行"), "\"[a]  c\\r\\nd \\\"q\\\" \\\\ \\t\\u0001 行\"");
    EXPECT_EQ(JsonNumber(1000.0), "1000");
    EXPECT_EQ(JsonNumber(62.5), "62.5");
    EXPECT_EQ(JsonNumber(0.0), "0");
    EXPECT_EQ(JsonNumber(0.1 + 0.2), "0.30000000000000004");
    EXPECT_EQ(JsonNumber(4473924266.666667), "4473924266.666667");
}

}  // namespace
