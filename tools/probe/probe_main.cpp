// pravel-probe's entry point and the sub-command registry; the sub-commands live in
// probe_<area>.cpp files and register themselves (see probe.h).
#include "tools/probe/probe.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "base/platform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

namespace probe {

namespace {

std::vector<Command>& registry() {
    // Function-local so registrars in other files may run before this file's statics.
    static std::vector<Command> list;
    return list;
}

}  // namespace

CommandRegistrar::CommandRegistrar(const char* name, const char* usage, const char* description, CommandFn run) {
    registry().push_back(Command{name, usage, description, run});
}

const std::vector<Command>& commands() { return registry(); }

std::wstring toPath(const std::string& utf8) { return utf8ToWide(utf8); }

std::string toUtf8(const std::wstring& text) { return wideToUtf8(text); }

std::string jsonString(const std::string& utf8) {
    std::string s = "\"";
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    size_t n = utf8.size();
    char buf[8];
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c == '"' || c == '\\') {
            s += '\\';
            s += char(c);
            ++i;
        } else if (c == '\n') {
            s += "\\n";
            ++i;
        } else if (c == '\r') {
            s += "\\r";
            ++i;
        } else if (c == '\t') {
            s += "\\t";
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            s += buf;
            ++i;
        } else if (c < 0x80) {
            s += char(c);
            ++i;
        } else {
            // Copy a well-formed UTF-8 sequence whole; escape stray bytes.
            size_t len = (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
            bool ok = len != 0 && i + len <= n;
            for (size_t k = 1; ok && k < len; ++k) ok = (p[i + k] & 0xC0) == 0x80;
            if (ok) {
                s.append(utf8, i, len);
                i += len;
            } else {
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                s += buf;
                ++i;
            }
        }
    }
    s += '"';
    return s;
}

bool optionValue(const Args& args, const char* name, std::string& value) {
    for (size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == name) {
            value = args[i + 1];
            return true;
        }
    }
    return false;
}

bool hasFlag(const Args& args, const char* name) { return std::find(args.begin(), args.end(), name) != args.end(); }

Args positionals(const Args& args, const std::vector<std::string>& valueOptions) {
    Args result;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() > 2 && a[0] == '-' && a[1] == '-') {
            if (std::find(valueOptions.begin(), valueOptions.end(), a) != valueOptions.end()) ++i;
            continue;
        }
        result.push_back(a);
    }
    return result;
}

void out(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

void err(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
}

}  // namespace probe

namespace {

void usage() {
    std::string text = "usage: pravel-probe COMMAND [ARGS...]\n\ncommands:\n";
    std::vector<probe::Command> list = probe::commands();
    std::sort(list.begin(), list.end(), [](const probe::Command& a, const probe::Command& b) { return std::strcmp(a.name, b.name) < 0; });
    for (const auto& c : list) text += std::string("  ") + c.usage + "\n      " + c.description + "\n";
    probe::err(text);
}

int run(const std::vector<std::string>& argv) {
    if (argv.size() < 2 || argv[1] == "--help" || argv[1] == "-h" || argv[1] == "help") {
        usage();
        return argv.size() < 2 ? 2 : 0;
    }
    for (const auto& c : probe::commands()) {
        if (argv[1] == c.name) return c.run(probe::Args(argv.begin() + 2, argv.end()));
    }
    probe::err("pravel-probe: unknown command '" + argv[1] + "'\n");
    usage();
    return 2;
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    // Bytes out exactly as written: UTF-8, "\n" line ends, identical to the native build.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleOutputCP(CP_UTF8);
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(wideToUtf8(argv[i]));
    return run(args);
}
#else
int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    return run(args);
}
#endif
