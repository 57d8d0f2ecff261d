// pravel-helpgen: writes the help page of the default shortcuts from the program's own
// command table (frame/command_table.cpp, linked in), so that the help can never list a key
// the program does not have. Native build; the output is UTF-8 HTML.
//
//   pravel-helpgen OUT.html
#include <cstdio>
#include <string>

#include "base/platform.h"
#include "frame/command_table.h"

namespace {

// The text as HTML: UTF-8 with &, < and > escaped.
std::string html(const wchar_t* text) {
    std::wstring escaped;
    for (const wchar_t* p = text; p && *p; ++p) {
        switch (*p) {
        case L'&': escaped += L"&amp;"; break;
        case L'<': escaped += L"&lt;"; break;
        case L'>': escaped += L"&gt;"; break;
        default: escaped += *p; break;
        }
    }
    return wideToUtf8(escaped);
}

std::string shortcutOf(const CommandInfo& row) {
    if (row.defaultKey == 0) return "";
    return html(modifierLabel(row.defaultFlags)) + html(keyLabel(row.defaultKey));
}

std::string page() {
    std::string rows, unassigned;
    int withKey = 0;
    for (const CommandInfo& row : kCommands) {
        const std::string key = shortcutOf(row);
        if (key.empty()) {
            unassigned += "<li>" + html(row.displayName) + "</li>\n";
            continue;
        }
        ++withKey;
        rows += "<tr><td>" + html(row.displayName) + "</td><td class=\"key\">" + key + "</td></tr>\n";
    }
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>既定のショートカットキー</title>\n<link rel=\"stylesheet\" href=\"style.css\">\n</head>\n<body>\n"
        "<h1>既定のショートカットキー</h1>\n"
        "<p>初めて起動したとき、または「キーカスタマイズ」で「初期化」したときのキー割り当てです。"
        "どのキーも「キーカスタマイズ」で変更できます（<a href=\"keys.html\">キーカスタマイズ</a>）。"
        "キーはメニューの各項目の右側にも表示されます。</p>\n"
        "<table class=\"shortcuts\">\n<tr><th>コマンド</th><th>キー</th></tr>\n";
    out += rows;
    out += "</table>\n<p>キーを割り当てられるコマンドは全部で " + std::to_string(kCommandCount) + " 個あり、そのうち " +
           std::to_string(withKey) + " 個に既定のキーがあります。次のコマンドには既定のキーがありません。</p>\n<ul class=\"columns\">\n";
    out += unassigned;
    out += "</ul>\n<p><a href=\"index.html\">目次へ戻る</a></p>\n</body>\n</html>\n";
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pravel-helpgen OUT.html\n");
        return 2;
    }
    const std::string text = page();
    std::FILE* f = std::fopen(argv[1], "wb");
    if (!f) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok ? 0 : 1;
}
