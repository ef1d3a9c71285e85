#include "store/CommandLine.h"

#include "platform/AppFiles.h"

namespace ostrel {

StartupArguments ParseCommandLine(const std::vector<std::string>& arguments, const std::string& copySetFolder)
{
    StartupArguments startup;
    std::vector<std::string> rest;
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (optionsEnded || argument.size() < 2 || argument[0] != '-') {
            rest.push_back(argument);
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "-h" || argument == "--help" || argument == "-v" || argument == "--version") {
            StartupArguments answer;
            answer.action =
                argument[1] == 'h' || argument == "--help" ? StartupAction::Help : StartupAction::Version;
            return answer;
        } else if (startup.badOption.empty()) {
            // Never taken as a file name: a typed option would otherwise become an empty copy-set
            // file of that name.
            startup.badOption = argument;
        }
    }
    if (!startup.badOption.empty()) {
        startup.action = StartupAction::BadOption;
        return startup;
    }

    startup.anyGiven = !rest.empty();
    switch (rest.size()) {
    case 0:
        startup.copySetFile = AppFiles::Join(copySetFolder, AppFiles::kCopySetName);
        break;
    case 1:
        startup.copySetFile = rest[0];
        break;
    case 2:
        startup.copySetFile = rest[0];
        startup.unattendedRequested = rest[1] == "/A" || rest[1] == "/a";
        break;
    default:
        // Not a command line this program knows: no file is named and nothing runs by itself.
        startup.interpreted = false;
        break;
    }
    return startup;
}

std::string UsageText(const AppFiles& files, const std::string& settingsPath)
{
    std::string text =
        "使い方: Parvane [コピーセットファイル [/A]]\n"
        "       Parvane -h | --help | -v | --version\n"
        "\n"
        "  コピーセットファイル  開くコピーセットファイル (省略時は下の既定のコピーセットファイル)\n"
        "  /A, /a                ファイルのすべてのコピーセットを無人で実行し、終了します\n"
        "  -h, --help            この説明を表示します\n"
        "  -v, --version         バージョンを表示します\n"
        "  --                    以降の引数はオプションとして扱いません\n"
        "\n"
        "無人実行 (/A) の終了コード:\n"
        "  0  すべてのコピーが完了し、失敗はありません\n"
        "  1  完了しましたが、失敗したエントリか読めなかったコピー元フォルダがあります\n"
        "  2  実行が途中で止まりました "
        "(ドライブなし・準備未完了、ボリューム名の相違、ログの書き込み失敗など)\n"
        "  3  実行を開始できませんでした (不明なオプション、コピーセットファイルがない・読めない)\n"
        "対話的に使ったときは常に 0 で終了します。問題があれば標準エラー出力に理由を書きます。\n"
        "\n";
    text += files.IsPortable()
        ? "ファイルの場所 (実行ファイルのフォルダに書き込めるため、その中):\n"
        : "ファイルの場所 (実行ファイルのフォルダに書き込めないため、利用者のフォルダ):\n";
    text += "  コピーログ:                 " + files.CopyLogPath() + "\n";
    text += "  既定のコピーセットファイル: " + files.DefaultCopySetPath() + "\n";
    text += "  設定:                       " + settingsPath + "\n";
    return text;
}

std::string VersionText()
{
    return std::string("Parvane (Ostrel) ") + OSTREL_VERSION + "\n";
}

} // namespace ostrel
