// Path lists and command lines built from a copy of a pane's selection: the shell's source
// list, the quoted argument list of the tools, and the companion viewer's parameters.
#pragma once

#include <string>

#include "thumbs/pane_access.h"

// The longest command line a Windows process can be given, terminator included.
constexpr size_t kCommandLineCapacity = 32767;

// folder + "\" (unless it already ends in one) + name.
std::wstring joinFolderAndName(const std::wstring& folder, const wchar_t* name);
// The path in double quotes when it contains a space, else as it stands.
std::wstring quotedIfSpaced(const std::wstring& path);

// Every selected item as its full path, each ended by a zero, one more zero ending the list.
std::wstring selectionZeroList(const PaneSelection& selection);
// Every selected item's full path in double quotes, separated by one space.
std::wstring selectionQuotedList(const PaneSelection& selection);

// The viewer's parameters: the switch; then, when something is selected, the first selected
// file (quoted if spaced) and, when pluginFolder is not empty, the plug-in folder the same way.
std::wstring viewerParameters(const wchar_t* viewerSwitch, const PaneSelection& selection,
                              const wchar_t* pluginFolder);
// The slide show's parameters: "/a " and the pane's first item (selected or not), then the
// plug-in folder as above. Empty when the pane has no items.
std::wstring slideShowParameters(const PaneSelection& selection, const wchar_t* pluginFolder);

// Whether the command line that starting `program` with `parameters` produces ("program",
// quoted, a space and the parameters) fits the system's limit.
bool commandLineFits(const wchar_t* program, const std::wstring& parameters);
