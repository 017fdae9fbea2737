// The command line of one quaverly-cli command: its options, its document, its usage. Every
// command reads its arguments through ParseCommandLine, so "--help", an option's missing value,
// an unknown option and a second file name are answered the same way everywhere.
#pragma once

#include <functional>
#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

// One option a command takes. Take is called with the option's value (with "" for a flag) and
// returns what is wrong with it, or "" to accept it.
struct TCliOption {
    std::vector<std::string> Names;  // "-o", "--output"
    bool HasValue = true;
    std::function<std::string(const std::string& value)> Take;

    // An option followed by a value, which take accepts ("") or refuses (what is wrong with it).
    static TCliOption Value(std::vector<std::string> names, std::function<std::string(const std::string&)> take)
    {
        return {std::move(names), true, std::move(take)};
    }
    // An option that stands alone.
    static TCliOption Flag(std::vector<std::string> names, std::function<void()> set)
    {
        return {std::move(names), false, [set = std::move(set)](const std::string&) {
                    set();
                    return std::string();
                }};
    }
};

// Whether the command reads a document, and where from when none is named.
enum class TCliSource {
    None,      // the command reads no document: any file name is a usage error
    Required,  // a file name or "-" must be given
    StdinByDefault,
};

struct TCliCommand {
    const char* Usage = "";
    std::vector<TCliOption> Options;
    TCliSource Source = TCliSource::Required;
    // Checks what the options only make sense together (a required -o, say) once all are read:
    // "" when all is well.
    std::function<std::string()> Check;
    // Whether a usage error names what was wrong before the usage. The first commands answered
    // with their usage alone, and scripts that compare the error output still see exactly that.
    bool ExplainProblems = true;
};

// The check of a command that writes a file: -o must have named it.
inline std::function<std::string()> RequireOutput(const std::string& output)
{
    return [&output] { return output.empty() ? std::string("書き出すファイルを -o で指定してください") : std::string(); };
}

// Returns the exit status the command ends with when it should not run: 0 after "--help" or
// "-h" (the usage on out), 2 after a usage error (what was wrong and the usage on err). Returns
// -1 when the command is to run, with source set to the document to read ("-" is standard input).
int ParseCommandLine(const TCliCommand& command, const std::vector<std::string>& args, std::string& source,
                     std::ostream& out, std::ostream& err);

// A usage error found after the command line was read (a track the compiled piece does not have):
// told as ParseCommandLine tells one, what was wrong and the usage on err. Returns 2.
int UsageError(const TCliCommand& command, const std::string& problem, std::ostream& err);
