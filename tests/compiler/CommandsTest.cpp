// The table of commands itself: what each lead finds, in either case and beside the leads that
// share its first character, and which rows the editor colours. What the commands then do is
// checked by the compiler's other tests and the editor's span table.
#include <gtest/gtest.h>

#include <string>

#include "compiler/Commands.h"

namespace {

TEST(Commands, EveryLeadFindsItsRowInEitherCase)
{
    for (const TCommandRow& row : Commands) {
        if (row.Lead.empty()) continue;
        std::string lower(row.Lead), upper(row.Lead);
        for (char& c : upper)
            if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        // A blank after the lead extends no lead.
        for (const std::string& lead : {lower, upper}) EXPECT_EQ(&CommandAt((lead + " ").c_str()), &row) << lead;
    }
}

TEST(Commands, LeadsThatShareAFirstCharacter)
{
    const std::pair<const char*, TCommand> cases[] = {
        {"@E10", TCommand::Effects},
        {"@x1", TCommand::SysEx},
        {"@1", TCommand::Program},
        {"@c", TCommand::Program},  // the dispatch rejects an "@" before a letter it does not know
        {"@", TCommand::Program},
        {"|:3", TCommand::Repeat},
        {"||", TCommand::Volta},
        {"|", TCommand::Volta},
        {":|", TCommand::RepeatEnd},
        {":/", TCommand::ParallelClose},
        {"::", TCommand::StrayColon},
        {":", TCommand::StrayColon},
        {"///", TCommand::Comment},
        {"/:", TCommand::ParallelOpen},
        {"/c", TCommand::NextVoice},
        {"c:|", TCommand::Note},
        {"R", TCommand::Rest},
        {"x", TCommand::None},
        {"\x81@", TCommand::None},  // a Shift-JIS lead byte; its trail byte may look like anything
        {"\x7f", TCommand::None},
    };
    for (const auto& [text, command] : cases) EXPECT_EQ(CommandAt(text).Command, command) << text;
}

TEST(Commands, BlanksControlsAndHighBytesBeginNone)
{
    for (int b = 1; b < 256; ++b) {
        if (b > 32 && b < 128) continue;
        const char text[] = {static_cast<char>(b), '\0'};
        EXPECT_EQ(CommandAt(text).Command, TCommand::None) << b;
    }
}

// What the compiler dispatches on, the editor colours; what it rejects stays plain.
TEST(Commands, EveryCommandHasAColour)
{
    for (const TCommandRow& row : Commands) {
        const bool command = row.Command != TCommand::None && row.Command != TCommand::StrayColon;
        EXPECT_EQ(row.Token != TMMLToken::Plain, command) << row.What;
    }
}

TEST(Commands, BodiesReadAsTheyStand)
{
    const std::pair<const char*, const char*> cases[] = {
        {"'c:|e'4", "4"},
        {"[a:|b]c", "c"},
        {"#INITGM(1)", "1)"},
        {"// :| c\nd", "d"},
        {"'ceg", nullptr},
        {"[name", nullptr},
        {"// to the end", nullptr},
    };
    for (const auto& [text, rest] : cases) {
        const char* const after = AfterBody(text);
        if (rest == nullptr)
            EXPECT_EQ(after, nullptr) << text;
        else
            EXPECT_STREQ(after, rest) << text;
    }
}

}  // namespace
