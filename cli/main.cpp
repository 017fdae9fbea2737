// quaverly-cli: the compiler and players without a window.
#include <malloc.h>

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "generated/Version.h"

namespace {
void Usage(std::ostream& err)
{
    err << "使い方: quaverly-cli <コマンド> [引数...]\n"
           "コマンド:\n"
           "  events [--at] [ファイル|-]  MML をコンパイルし、イベントを JSON で一行ずつ出力します\n"
           "  devices               MIDI 出力デバイスを番号付きで一覧します\n"
           "  play ファイル|- [...]  MML をコンパイルして演奏します (play --help で詳しく)\n"
           "  export ファイル|- -o 出力.mid  MML をコンパイルして MIDI ファイルに書き出します\n"
           "  render ファイル|- [...] 内蔵シンセサイザーで WAV ファイルに書き出します (render --help で詳しく)\n"
           "オプション:\n"
           "  --help                この使い方を表示します (コマンド --help でそのコマンドの使い方)\n"
           "  --version             バージョンを表示します\n";
}
}  // namespace

int main(int argc, char** argv)
{
    // Large blocks (a text, an event list, a sort's keys) are mapped on their own and given back
    // to the system as soon as they are freed. By default the C library raises that bound each
    // time such a block is freed, after which the next ones stay in the heap when let go, and the
    // memory of each stage of a compilation adds up instead of being reused.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    std::ios::sync_with_stdio(false);
    if (argc < 2) {
        Usage(std::cerr);
        return 2;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "events") return RunEvents(args, std::cin, std::cout, std::cerr);
    if (command == "export") return RunExport(args, std::cin, std::cout, std::cerr);
    if (command == "devices" || command == "play" || command == "render")
        return RunDeviceCommand(command, args, std::cin, std::cout, std::cerr);
    if (command == "-h" || command == "--help" || command == "help") {
        Usage(std::cout);
        return 0;
    }
    if (command == "--version") {
        std::cout << "quaverly-cli " QUAVERLY_VERSION "\n";
        return 0;
    }
    std::cerr << "不明なコマンドです: " << command << '\n';
    Usage(std::cerr);
    return 2;
}
