// pravel-probe: a command-line window onto the portable core (decoders, metadata, cache),
// used by tests, scripts and people checking a strange file by hand.
//
// Every tools/probe/probe_<area>.cpp registers its sub-commands with a static registrar,
// so adding a sub-command never touches the main file:
//
//     static int runExif(const probe::Args& args) { ... return 0; }
//     PROBE_COMMAND(exif, "exif FILE", "print the Exif summary as JSON", runExif);
//
// Arguments arrive as UTF-8 on every build (converted from the wide command line on
// Windows); output is UTF-8. Use probe::toPath to turn an argument into a core path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace probe {

using Args = std::vector<std::string>;  // the arguments after the sub-command's name
using CommandFn = int (*)(const Args& args);

struct Command {
    const char* name;
    const char* usage;        // e.g. "decode FILE [--target WxH] [--out OUT.bmp]"
    const char* description;  // one line
    CommandFn run;
};

// Registers a command; used through PROBE_COMMAND at namespace scope.
struct CommandRegistrar {
    CommandRegistrar(const char* name, const char* usage, const char* description, CommandFn run);
};

const std::vector<Command>& commands();

// UTF-8 argument -> the wide path the core's platform layer takes.
std::wstring toPath(const std::string& utf8);
// Core text (wide) -> UTF-8 for printing.
std::string toUtf8(const std::wstring& text);
// A JSON string literal (with quotes) for UTF-8 text; bytes that are not valid UTF-8
// are escaped as \u00XX so the line stays valid JSON.
std::string jsonString(const std::string& utf8);

// Looks for "--name VALUE" in args; returns true and sets value when present.
bool optionValue(const Args& args, const char* name, std::string& value);
// Looks for a bare "--name" flag.
bool hasFlag(const Args& args, const char* name);
// Positional arguments: everything that is neither an option nor an option's value.
// Options taking a value must be listed in valueOptions.
Args positionals(const Args& args, const std::vector<std::string>& valueOptions);

// Sets the plug-in folder setting ("SPI") that the loader dispatch reads.
void copyPluginFolderSetting(const std::wstring& folder);

// Writes UTF-8 text to standard output / standard error unchanged.
void out(const std::string& text);
void err(const std::string& text);

}  // namespace probe

#define PROBE_CONCAT_INNER(a, b) a##b
#define PROBE_CONCAT(a, b) PROBE_CONCAT_INNER(a, b)
#define PROBE_COMMAND(name, usage, description, fn) \
    static ::probe::CommandRegistrar PROBE_CONCAT(probeRegistrar_, name)(#name, usage, description, fn)
