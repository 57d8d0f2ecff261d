// Path lists and command lines of the file operations and external programs.
#include "frame/command_lines.h"

#include <cwchar>

std::wstring joinFolderAndName(const std::wstring& folder, const wchar_t* name) {
    std::wstring out = folder;
    if (out.empty() || out.back() != L'\\') out.push_back(L'\\');
    out.append(name, ::wcsnlen(name, 260));
    return out;
}

std::wstring quotedIfSpaced(const std::wstring& path) {
    if (path.find(L' ') == std::wstring::npos) return path;
    return L"\"" + path + L"\"";
}

std::wstring selectionZeroList(const PaneSelection& selection) {
    std::wstring out;
    for (const PaneItemCopy& copy : selection.selected) {
        out += joinFolderAndName(selection.folder, copy.item.name);
        out.push_back(L'\0');
    }
    out.push_back(L'\0');
    return out;
}

std::wstring selectionQuotedList(const PaneSelection& selection) {
    std::wstring out;
    for (const PaneItemCopy& copy : selection.selected) {
        if (!out.empty()) out.push_back(L' ');
        out.push_back(L'"');
        out += joinFolderAndName(selection.folder, copy.item.name);
        out.push_back(L'"');
    }
    return out;
}

std::wstring viewerParameters(const wchar_t* viewerSwitch, const PaneSelection& selection,
                              const wchar_t* pluginFolder) {
    std::wstring out = viewerSwitch;
    if (selection.selected.empty() || !selection.selected.front().item.name[0]) return out;
    out += L' ';
    out += quotedIfSpaced(joinFolderAndName(selection.folder, selection.selected.front().item.name));
    if (pluginFolder && *pluginFolder) {
        out += L' ';
        out += quotedIfSpaced(pluginFolder);
    }
    return out;
}

std::wstring slideShowParameters(const PaneSelection& selection, const wchar_t* pluginFolder) {
    if (!selection.hasItems || selection.total <= 0 || selection.firstItemName.empty()) return {};
    std::wstring out = L"/a " + quotedIfSpaced(joinFolderAndName(selection.folder, selection.firstItemName.c_str()));
    if (pluginFolder && *pluginFolder) {
        out += L' ';
        out += quotedIfSpaced(pluginFolder);
    }
    return out;
}

bool commandLineFits(const wchar_t* program, const std::wstring& parameters) {
    // "program" + space + parameters + terminator.
    const size_t length = std::wcslen(program) + 2 + (parameters.empty() ? 0 : 1 + parameters.size()) + 1;
    return length <= kCommandLineCapacity;
}
