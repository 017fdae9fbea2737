#include "cli/Options.h"

#include <algorithm>
#include <ostream>

namespace {

std::string Parse(const TCliCommand& command, const std::vector<std::string>& args, std::string& source)
{
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto option = std::find_if(command.Options.begin(), command.Options.end(), [&](const TCliOption& o) {
            return std::find(o.Names.begin(), o.Names.end(), arg) != o.Names.end();
        });
        if (option != command.Options.end()) {
            std::string value;
            if (option->HasValue) {
                if (i + 1 >= args.size()) return arg + " の値がありません";
                value = args[++i];
            }
            if (std::string problem = option->Take(value); !problem.empty()) return problem;
        } else if (arg.size() > 1 && arg[0] == '-') {  // "-" alone is standard input
            return "不明なオプションです: " + arg;
        } else if (command.Source == TCliSource::None) {
            return "ファイルは指定できません";
        } else if (source.empty()) {
            source = arg;
        } else {
            return "ファイルは一つだけ指定できます";
        }
    }
    if (source.empty()) {
        if (command.Source == TCliSource::Required) return "ファイルを指定してください";
        if (command.Source == TCliSource::StdinByDefault) source.push_back('-');  // standard input
    }
    return command.Check ? command.Check() : std::string();
}

}  // namespace

int ParseCommandLine(const TCliCommand& command, const std::vector<std::string>& args, std::string& source,
                     std::ostream& out, std::ostream& err)
{
    if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
        out << command.Usage;
        return 0;
    }
    source.clear();
    const std::string problem = Parse(command, args, source);
    if (problem.empty()) return -1;
    return UsageError(command, problem, err);
}

int UsageError(const TCliCommand& command, const std::string& problem, std::ostream& err)
{
    if (command.ExplainProblems && !problem.empty()) err << problem << '\n';
    err << command.Usage;
    return 2;
}
