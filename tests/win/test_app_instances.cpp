// The built program as separate processes: a second copy hands its folder to the first
// and ends without a window; a program file with another name refuses to start.
// The processes run on a desktop of their own, so that other copies of the program that
// happen to run on the machine are not involved.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "test_process_support.h"

namespace {

namespace fs = std::filesystem;
using namespace proctest;

constexpr DWORD kGenerousWaitMs = 60000;  // only a bound against hanging, never a measure

std::wstring builtProgram() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return (fs::path(self).parent_path().parent_path() / L"Pravel.exe").wstring();
}

class Process {
public:
    Process(const std::wstring& exe, const std::wstring& argument, wchar_t* desktop) {
        std::wstring commandLine = L"\"" + exe + L"\"";
        if (!argument.empty()) commandLine += L" \"" + argument + L"\"";
        STARTUPINFOW si = {};
        si.cb = sizeof(si);
        si.lpDesktop = desktop;
        si.dwFlags = STARTF_USESHOWWINDOW;
        si.wShowWindow = SW_SHOWNORMAL;
        std::wstring folder = fs::path(exe).parent_path().wstring();
        started_ = CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                                  &si, &info_) != FALSE;
    }
    ~Process() {
        if (!started_) return;
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
    bool started() const { return started_; }
    DWORD id() const { return info_.dwProcessId; }
    // Exit code, or STILL_ACTIVE when it did not end within the bound.
    DWORD waitForExit(DWORD ms = kGenerousWaitMs) const {
        WaitForSingleObject(info_.hProcess, ms);
        DWORD code = STILL_ACTIVE;
        GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }
    bool running() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT; }

private:
    PROCESS_INFORMATION info_ = {};
    bool started_ = false;
};

// Polls until the process shows such a window, it ends, or the bound passes.
HWND waitForWindowOf(const Process& process, const wchar_t* className, const wchar_t* title = nullptr) {
    for (DWORD waited = 0; waited < kGenerousWaitMs; waited += 50) {
        if (HWND w = findWindowOf(process.id(), className, title)) return w;
        if (!process.running()) return nullptr;
        Sleep(50);
    }
    return nullptr;
}

BOOL CALLBACK collectStaticText(HWND window, LPARAM param) {
    wchar_t text[512];
    GetClassNameW(window, text, 512);
    if (lstrcmpiW(text, L"Static") == 0) {
        GetWindowTextW(window, text, 512);
        reinterpret_cast<std::vector<std::wstring>*>(param)->push_back(text);
    }
    return TRUE;
}

class ProgramCopy : public ::testing::Test {
protected:
    void SetUp() override {
        if (!desktop_.startupName()) std::printf("note: no private desktop; sharing the default one\n");
        source_ = builtProgram();
        ASSERT_TRUE(fs::exists(source_)) << "build Pravel.exe first";
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        folder_ = fs::path(temp) / (L"pravel_instances_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
                                    std::to_wstring(GetTickCount()));
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    std::wstring copyAs(const wchar_t* name) {
        fs::path target = folder_ / name;
        fs::copy_file(source_, target, fs::copy_options::overwrite_existing);
        return target.wstring();
    }
    void writeSettings(const char* text) {
        std::wstring ini = (folder_ / L"Pravel.ini").wstring();
        HANDLE h = CreateFileW(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        DWORD put = 0;
        WriteFile(h, text, DWORD(strlen(text)), &put, nullptr);
        CloseHandle(h);
    }
    std::string settingsText() const {
        std::string text;
        HANDLE h = CreateFileW((folder_ / L"Pravel.ini").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return text;
        text.resize(GetFileSize(h, nullptr));
        DWORD got = 0;
        ReadFile(h, text.data(), DWORD(text.size()), &got, nullptr);
        CloseHandle(h);
        return text;
    }
    FILETIME settingsWriteTime() const {
        WIN32_FILE_ATTRIBUTE_DATA data = {};
        GetFileAttributesExW((folder_ / L"Pravel.ini").c_str(), GetFileExInfoStandard, &data);
        return data.ftLastWriteTime;
    }

    Desktop desktop_{L"PravelTest"};
    fs::path source_;
    fs::path folder_;
};

TEST_F(ProgramCopy, SecondInstanceHandsItsFolderToTheFirstAndEndsWithoutAWindow) {
    // Portable use: the settings beside the program copy, nothing in the user's data.
    writeSettings("[Mwin]\r\nCacheOpt=0\r\nSubClose=0\r\n");
    std::wstring exe = copyAs(L"Pravel.exe");
    fs::path pictures = folder_ / L"pictures";
    fs::create_directories(pictures);

    Process first(exe, L"", desktop_.startupName());
    ASSERT_TRUE(first.started());
    HWND main = waitForWindowOf(first, L"Pravel_main_class", L"-1- Pravel");
    ASSERT_NE(main, nullptr);
    FILETIME before = settingsWriteTime();

    // Without an argument the second copy only brings the first to the front.
    Process plain(exe, L"", desktop_.startupName());
    ASSERT_TRUE(plain.started());
    EXPECT_EQ(plain.waitForExit(), 0u);

    Process second(exe, pictures.wstring(), desktop_.startupName());
    ASSERT_TRUE(second.started());
    EXPECT_EQ(second.waitForExit(), 0u);  // a copy that made its window would still be running

    std::wstring wanted = L"-1- " + pictures.wstring();
    EXPECT_NE(waitForWindowOf(first, L"Pravel_main_class", wanted.c_str()), nullptr);
    FILETIME after = settingsWriteTime();
    EXPECT_EQ(CompareFileTime(&before, &after), 0);  // the second copy saved nothing

    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.waitForExit(), 0u);
    std::string ini = settingsText();
    EXPECT_NE(ini.find("[Mwin]"), std::string::npos);
    EXPECT_NE(ini.find("CacheOpt=0"), std::string::npos);
    EXPECT_NE(ini.find("ThImgW=148"), std::string::npos);
    EXPECT_LT(ini.find("[Mwin]"), ini.find("[Path]"));
    EXPECT_LT(ini.find("[Path]"), ini.find("[FolderList]"));
}

TEST_F(ProgramCopy, RegisteredFoldersSurviveARunAndAVanishedOneLeavesNoGap) {
    fs::path a = folder_ / L"a", b = folder_ / L"b", c = folder_ / L"c";
    for (const fs::path& p : {a, b, c}) fs::create_directories(p);
    auto narrowPath = [](const fs::path& p) {
        std::string out;
        for (wchar_t ch : p.wstring()) out.push_back(char(ch));
        return out;
    };
    const std::string settings = "[Mwin]\r\nCacheOpt=0\r\nSubClose=0\r\nDTExpand=0\r\n[FolderList]\r\n0=" +
                                 narrowPath(c) + "\r\n1=" + narrowPath(b) + "\r\n2=" + narrowPath(a) + "\r\n";
    writeSettings(settings.c_str());
    std::wstring exe = copyAs(L"Pravel.exe");
    Process first(exe, L"", desktop_.startupName());
    ASSERT_TRUE(first.started());
    HWND main = waitForWindowOf(first, L"Pravel_main_class", L"-1- Pravel");
    ASSERT_NE(main, nullptr);
    fs::remove(b);  // gone while the program runs
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(first.waitForExit(), 0u);
    std::string ini = settingsText();
    const size_t at = ini.find("[FolderList]");
    ASSERT_NE(at, std::string::npos) << ini;
    size_t end = ini.find('[', at + 1);
    EXPECT_EQ(ini.substr(at, end == std::string::npos ? std::string::npos : end - at),
              "[FolderList]\r\n0=" + narrowPath(c) + "\r\n1=" + narrowPath(a) + "\r\n");
}

TEST_F(ProgramCopy, AnotherProgramNameIsRefusedWithTheMessage) {
    std::wstring exe = copyAs(L"Other.exe");
    Process other(exe, L"", desktop_.startupName());
    ASSERT_TRUE(other.started());
    HWND box = waitForWindowOf(other, L"#32770", L"Error");
    ASSERT_NE(box, nullptr);
    std::vector<std::wstring> texts;
    EnumChildWindows(box, collectStaticText, reinterpret_cast<LPARAM>(&texts));
    EXPECT_NE(std::find(texts.begin(), texts.end(), std::wstring(L"ファイル実行に失敗しました。")), texts.end());
    EXPECT_EQ(findWindowOf(other.id(), L"Pravel_main_class"), nullptr);

    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(other.waitForExit(), 0u);
    EXPECT_FALSE(fs::exists(folder_ / L"Pravel.ini"));
}

}  // namespace
