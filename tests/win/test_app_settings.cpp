// Pravel.ini through the real private-profile functions: locating the file, defaults,
// clamps and load rules, bad files, over-long values, and the exact order of the save.
#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/settings.h"

namespace {

namespace fs = std::filesystem;

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        root_ = std::wstring(temp) + L"pravel_settings_" +
                std::to_wstring(GetCurrentProcessId()) + L"_" + widen(::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
        root_ += L"\\";
        ini_ = root_ + L"Pravel.ini";
    }
    void TearDown() override {
        WritePrivateProfileStringW(nullptr, nullptr, nullptr, ini_.c_str());
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }
    static std::wstring widen(const char* s) { return std::wstring(s, s + std::strlen(s)); }
    std::wstring makeFolder(const wchar_t* name) const {
        std::wstring p = root_ + name;
        fs::create_directories(p);
        return p;
    }
    void writeText(const std::string& text) const {
        HANDLE h = CreateFileW(ini_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        DWORD put = 0;
        WriteFile(h, text.data(), DWORD(text.size()), &put, nullptr);
        CloseHandle(h);
    }
    std::string readText() const {
        HANDLE h = CreateFileW(ini_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return {};
        std::string text(GetFileSize(h, nullptr), '\0');
        DWORD got = 0;
        ReadFile(h, text.data(), DWORD(text.size()), &got, nullptr);
        CloseHandle(h);
        return text;
    }
    static std::string narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }  // ASCII test paths
    AppSettings load() const {
        AppSettings s;
        loadSettingsFrom(ini_.c_str(), root_.c_str(), s);
        return s;
    }

    std::wstring root_;
    std::wstring ini_;
};

void expectDefaultsExceptPathsAndFolders(const AppSettings& s) {
    EXPECT_EQ(s.maximized, 0);
    EXPECT_EQ(s.treeWidth, 150);
    EXPECT_EQ(s.autoTree, 0);
    EXPECT_EQ(s.hiddenMask, 2);
    EXPECT_EQ(s.subClose, 1);
    EXPECT_EQ(s.thumbWidth, 148);
    EXPECT_EQ(s.thumbHeight, 111);
    EXPECT_EQ(s.infoName, 1);
    EXPECT_EQ(s.infoSize, 1);
    EXPECT_EQ(s.infoDate, 0);
    EXPECT_EQ(s.infoDepth, 0);
    EXPECT_EQ(s.textArea, 1);
    EXPECT_EQ(s.focusRed, 255);
    EXPECT_EQ(s.focusGreen, 160);
    EXPECT_EQ(s.focusBlue, 255);
    EXPECT_EQ(s.doubleClickAction, 3);
    EXPECT_EQ(s.thumbSplit, SplitMode::Pane1);
    EXPECT_EQ(s.useCache, 1);
    EXPECT_EQ(s.expandDesktop, 1);
    EXPECT_EQ(s.cacheOptimise, 1);
    EXPECT_EQ(s.noRecycleConfirm, 0);
    EXPECT_EQ(s.textAreaHeight, 28);
    EXPECT_STREQ(s.pluginFolder, L"");
    for (int i = 0; i < kToolCount; ++i) {
        EXPECT_STREQ(s.toolPaths[i], L"");
        EXPECT_STREQ(s.toolNames[i], L"");
    }
    EXPECT_EQ(s.customColours[15], 0xFFFFFFu);
}

TEST_F(SettingsFile, MissingFileGivesDefaultsAndThePicturesFolder) {
    AppSettings s = load();
    expectDefaultsExceptPathsAndFolders(s);
    EXPECT_EQ(std::wstring(s.viewerPath), root_ + L"Dorna.exe");
    wchar_t pictures[MAX_PATH] = {};
    if (SUCCEEDED(SHGetFolderPathW(nullptr, CSIDL_MYPICTURES, nullptr, 0, pictures))) {
        EXPECT_STREQ(s.folders.paths[0], pictures);
        EXPECT_EQ(s.folders.count(), 1);
    }
    MainPlacement p = readMainPlacementFrom(ini_.c_str(), 1280, 1000);  // centred in the work area
    EXPECT_EQ(p.x, 240);
    EXPECT_EQ(p.y, 200);
    EXPECT_EQ(p.w, 800);
    EXPECT_EQ(p.h, 600);
}

TEST_F(SettingsFile, StoredValuesAreClampedMaskedAndWrapped) {
    std::wstring a = makeFolder(L"a"), b = makeFolder(L"b"), d = makeFolder(L"d");
    writeText("[Mwin]\r\nThImgW=10\r\nThImgH=5000\r\nUseCache=2\r\nFocusR=300\r\nFocusG=-1\r\nFocusB=256\r\n"
              "Max=3\r\nSubClose=2\r\nDblClick=99\r\nThSplit=2\r\nTreeW=-40\r\nHidden=0\r\n"
              "InfoName=0\r\nInfoSize=1\r\nInfoDate=1\r\nInfoDepth=1\r\nTxtArea=1\r\n"
              "[FolderList]\r\n0=" + narrow(a) + "\r\n1=" + narrow(b) + "\r\n3=" + narrow(d) + "\r\n");
    AppSettings s = load();
    EXPECT_EQ(s.thumbWidth, 32);
    EXPECT_EQ(s.thumbHeight, 800);
    EXPECT_EQ(s.useCache, 0);
    EXPECT_EQ(s.focusRed, 44);
    EXPECT_EQ(s.focusGreen, 255);
    EXPECT_EQ(s.focusBlue, 0);
    EXPECT_EQ(s.maximized, 1);
    EXPECT_EQ(s.subClose, 0);
    EXPECT_EQ(s.doubleClickAction, 99);  // taken as stored; its users treat it as their default case
    EXPECT_EQ(s.thumbSplit, SplitMode::Pane2);
    EXPECT_EQ(s.treeWidth, -40);
    EXPECT_EQ(s.hiddenMask, 0);
    EXPECT_EQ(s.textAreaHeight, 42);
    // Key "2" is missing: the list ends there.
    EXPECT_EQ(s.folders.count(), 2);
    EXPECT_EQ(std::wstring(s.folders.paths[0]), a);
    EXPECT_EQ(std::wstring(s.folders.paths[1]), b);
}

TEST_F(SettingsFile, FolderListSkipsVanishedFoldersAndPacks) {
    std::wstring a = makeFolder(L"a"), c = makeFolder(L"c");
    writeText("[FolderList]\r\n0=" + narrow(root_) + "gone\r\n1=" + narrow(a) + "\r\n2=" + narrow(root_) +
              "Pravel.ini\r\n3=" + narrow(c) + "\r\n");
    AppSettings s = load();
    EXPECT_EQ(s.folders.count(), 2);
    EXPECT_EQ(std::wstring(s.folders.paths[0]), a);
    EXPECT_EQ(std::wstring(s.folders.paths[1]), c);
}

TEST_F(SettingsFile, ViewerPathDefaultsUnlessTheFileExists) {
    writeText("[Path]\r\nDorna=\r\n");
    EXPECT_EQ(std::wstring(load().viewerPath), root_ + L"Dorna.exe");
    writeText("[Path]\r\nDorna=" + narrow(root_) + "nothere\\Dorna.exe\r\n");
    EXPECT_EQ(std::wstring(load().viewerPath), root_ + L"Dorna.exe");
    std::wstring viewer = root_ + L"MyViewer.exe";
    CloseHandle(CreateFileW(viewer.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    writeText("[Path]\r\nDorna=" + narrow(viewer) + "\r\nSPI=C:\\plugins\r\nAPP3=C:\\t\\x.exe\r\nAN3=Tool X\r\n");
    AppSettings s = load();
    EXPECT_EQ(std::wstring(s.viewerPath), viewer);
    EXPECT_STREQ(s.pluginFolder, L"C:\\plugins");
    EXPECT_STREQ(s.toolPaths[3], L"C:\\t\\x.exe");
    EXPECT_STREQ(s.toolNames[3], L"Tool X");
}

TEST_F(SettingsFile, GarbageOrUnreadableFilesGiveDefaults) {
    std::string garbage;
    for (int i = 0; i < 5000; ++i) garbage.push_back(char((i * 7919 + 13) % 251));
    writeText(garbage);
    AppSettings s = load();
    expectDefaultsExceptPathsAndFolders(s);
    EXPECT_EQ(s.folders.count(), 0);  // the file exists, its "FolderList" does not

    writeText("[Mwin]\r\nThImgW=abc\r\n=5\r\n[[[\r\nThImgH=x9\r\n");
    s = load();
    EXPECT_EQ(s.thumbWidth, 32);   // a non-number reads as 0, which the clamp lifts
    EXPECT_EQ(s.thumbHeight, 32);

    // A file that cannot be opened counts as missing.
    writeText("[Mwin]\r\nThImgW=200\r\n");
    HANDLE lock = CreateFileW(ini_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    s = load();
    CloseHandle(lock);
    expectDefaultsExceptPathsAndFolders(s);

    // So does a folder where the file should be.
    AppSettings d;
    loadSettingsFrom(root_.c_str(), root_.c_str(), d);
    expectDefaultsExceptPathsAndFolders(d);
}

TEST_F(SettingsFile, OverLongValuesStayInsideTheirBuffers) {
    std::string longPath = narrow(root_) + std::string(400, 'x');
    writeText("[Path]\r\nDorna=" + longPath + "\r\nSPI=" + longPath + "\r\nAPP0=" + longPath + "\r\nAN0=name0\r\n"
              "[FolderList]\r\n0=" + longPath + "\r\n1=" + narrow(makeFolder(L"ok")) + "\r\n");
    AppSettings s = load();
    EXPECT_EQ(std::wstring(s.viewerPath), root_ + L"Dorna.exe");
    EXPECT_EQ(std::wcslen(s.pluginFolder), 259u);
    EXPECT_EQ(std::wcslen(s.toolPaths[0]), 259u);
    EXPECT_STREQ(s.toolNames[0], L"name0");  // the neighbour of the long value is intact
    EXPECT_EQ(s.folders.count(), 1);          // the over-long entry names no folder
    EXPECT_EQ(std::wstring(s.folders.paths[0]), root_ + L"ok");
}

// The lines of an INI text as "[Section]" and "key" (the value cut off).
std::vector<std::string> sectionsAndKeys(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) out.push_back(line[0] == '[' ? line : line.substr(0, line.find('=')));
        start = end + 1;
    }
    return out;
}

TEST_F(SettingsFile, SaveWritesSectionsAndKeysInOrderAndLeavesAkey) {
    writeText("[Akey]\r\nSaveKey=0011\r\n[Awin]\r\nx=1\r\n[Tree]\r\nw=2\r\n[Thumb]\r\na=1\r\n[List]\r\nb=1\r\n"
              "[Mwin]\r\nOld=1\r\n[FolderList]\r\n7=C:\\old\r\n");
    AppSettings s;
    std::wstring a = makeFolder(L"a"), c = makeFolder(L"c");
    wcscpy(s.folders.paths[0], a.c_str());
    wcscpy(s.folders.paths[1], (root_ + L"vanished").c_str());
    wcscpy(s.folders.paths[2], c.c_str());
    wcscpy(s.viewerPath, L"C:\\v\\Dorna.exe");
    s.focusRed = 44;
    s.autoTree = 1;
    MainPlacement placement{12, -3, 640, 480};
    saveSettingsTo(ini_.c_str(), s, placement);

    std::vector<std::string> expected = {"[Akey]", "SaveKey", "[Mwin]", "Max", "x", "y", "w", "h", "TreeW", "AutoTree",
                                         "Hidden", "SubClose"};
    for (const char* k : {"ThImgW", "ThImgH", "InfoName", "InfoSize", "InfoDate", "InfoDepth", "TxtArea", "FocusR",
                          "FocusG", "FocusB", "DblClick", "ThSplit", "UseCache", "DTExpand", "CacheOpt", "NoRecycMsg"}) {
        expected.push_back(k);
    }
    expected.push_back("[Path]");
    expected.push_back("Dorna");
    expected.push_back("SPI");
    for (int i = 0; i < 8; ++i) {
        expected.push_back("APP" + std::to_string(i));
        expected.push_back("AN" + std::to_string(i));
    }
    expected.push_back("[FolderList]");
    expected.push_back("0");
    expected.push_back("1");
    std::string text = readText();
    EXPECT_EQ(sectionsAndKeys(text), expected) << text;
    EXPECT_NE(text.find("x=12\r\n"), std::string::npos);
    EXPECT_NE(text.find("y=-3\r\n"), std::string::npos);
    EXPECT_NE(text.find("FocusR=44\r\n"), std::string::npos);
    EXPECT_NE(text.find("AutoTree=1\r\n"), std::string::npos);
    EXPECT_NE(text.find("APP0=\r\n"), std::string::npos);  // empty values are empty keys
    EXPECT_NE(text.find("0=" + narrow(a) + "\r\n1=" + narrow(c) + "\r\n"), std::string::npos);

    // What was written reads back as the same record.
    AppSettings back = load();
    EXPECT_EQ(back.focusRed, 44);
    EXPECT_EQ(back.autoTree, 1);
    EXPECT_STREQ(back.folders.paths[0], a.c_str());
    EXPECT_STREQ(back.folders.paths[1], c.c_str());
    EXPECT_EQ(back.folders.count(), 2);
    MainPlacement p = readMainPlacementFrom(ini_.c_str(), 1280, 1000);
    EXPECT_EQ(p.x, 12);
    EXPECT_EQ(p.y, -3);
    EXPECT_EQ(p.w, 640);
    EXPECT_EQ(p.h, 480);
}

TEST_F(SettingsFile, EveryValueOfTheTableReadsBackAsWritten) {
    // A value other than the default in every row (inside its range), written and read again.
    AppSettings s;
    const SettingRow* rows = settingRows();
    int values = 0;
    for (int r = 0; r < settingRowCount(); ++r) {
        const SettingRow& row = rows[r];
        const int32_t other = row.kind == SettingKind::Flag ? 1 - row.fallback
                              : row.kind == SettingKind::Byte ? (row.fallback + 1 + r) & 0xFF
                              : row.min <= row.max             ? (row.fallback == row.max ? row.min : row.max)
                                                                : row.fallback - 7 - r;
        if (row.small) {
            s.*row.small = uint8_t(other);
            ++values;
        }
        if (row.number) {
            s.*row.number = other;
            ++values;
        }
        if (row.split) {
            s.*row.split = SplitMode(other);
            ++values;
        }
    }
    EXPECT_EQ(values, 21);  // 12 flags, 3 bytes, 5 numbers, the split mode
    wcscpy(s.pluginFolder, L"C:\\plug");
    wcscpy(s.toolPaths[7], L"C:\\t7.exe");
    wcscpy(s.toolNames[3], L"three");
    saveSettingsTo(ini_.c_str(), s, MainPlacement{});

    AppSettings back = load();
    for (int r = 0; r < settingRowCount(); ++r) {
        const SettingRow& row = rows[r];
        if (row.small) {
            EXPECT_EQ(back.*row.small, s.*row.small) << narrow(row.key);
        }
        if (row.number) {
            EXPECT_EQ(back.*row.number, s.*row.number) << narrow(row.key);
        }
        if (row.split) {
            EXPECT_EQ(back.*row.split, s.*row.split) << narrow(row.key);
        }
    }
    EXPECT_STREQ(back.pluginFolder, L"C:\\plug");
    EXPECT_STREQ(back.toolPaths[7], L"C:\\t7.exe");
    EXPECT_STREQ(back.toolNames[3], L"three");
    EXPECT_STREQ(back.toolNames[7], L"");
}

TEST_F(SettingsFile, DefaultViewerPathIsWrittenBack) {
    writeText("[Path]\r\nDorna=C:\\nowhere\\Dorna.exe\r\n");
    AppSettings s = load();
    saveSettingsTo(ini_.c_str(), s, MainPlacement{});
    EXPECT_NE(readText().find("Dorna=" + narrow(root_) + "Dorna.exe\r\n"), std::string::npos);
}

// An unpacked package: "plugins" beside the program serves while "SPI" is empty, and the INI
// keeps "SPI" empty until the user names a folder (a stored one always wins).
TEST_F(SettingsFile, PluginFolderBesideTheProgramServesWhileSpiIsEmpty) {
    AppSettings none = load();  // no "plugins" folder yet
    EXPECT_STREQ(none.pluginFolder, L"");
    EXPECT_STREQ(none.pluginFolderBeside, L"");

    const std::wstring beside = makeFolder(L"plugins");
    for (const char* text : {"", "[Path]\r\nSPI=\r\n"}) {  // no file, and an empty key
        if (*text) writeText(text);
        AppSettings s = load();
        EXPECT_EQ(std::wstring(s.pluginFolder), beside) << text;
        saveSettingsTo(ini_.c_str(), s, MainPlacement{});
        EXPECT_NE(readText().find("\r\nSPI=\r\n"), std::string::npos) << readText();
        EXPECT_EQ(std::wstring(load().pluginFolder), beside);  // and found again next time
    }

    AppSettings s = load();  // the user names another folder: that one is written
    const std::wstring other = makeFolder(L"mine");
    wcscpy(s.pluginFolder, other.c_str());
    saveSettingsTo(ini_.c_str(), s, MainPlacement{});
    EXPECT_NE(readText().find("SPI=" + narrow(other) + "\r\n"), std::string::npos);
    AppSettings stored = load();
    EXPECT_EQ(std::wstring(stored.pluginFolder), other);
    EXPECT_STREQ(stored.pluginFolderBeside, L"");

    writeText("[Path]\r\nSPI=C:\\elsewhere\r\n");  // a stored folder is kept even when missing
    EXPECT_STREQ(load().pluginFolder, L"C:\\elsewhere");
}

TEST_F(SettingsFile, LocatingChecksTheNameAndPrefersTheFileBesideTheProgram) {
    wchar_t out[kPathCapacity];
    std::wstring program = root_ + L"Pravel.exe";
    std::wstring appData = makeFolder(L"appdata");

    EXPECT_FALSE(locateSettingsFileFor((root_ + L"Other.exe").c_str(), appData.c_str(), out));
    EXPECT_FALSE(locateSettingsFileFor((root_ + L"Pravel.exe.bak").c_str(), appData.c_str(), out));

    // No file beside the program: the "Pravel" folder in the application data is made.
    ASSERT_TRUE(locateSettingsFileFor((root_ + L"pravel.EXE").c_str(), appData.c_str(), out));
    EXPECT_EQ(std::wstring(out), appData + L"\\Pravel\\Pravel.ini");
    EXPECT_TRUE(fs::is_directory(appData + L"\\Pravel"));

    // No application-data folder: beside the program all the same.
    ASSERT_TRUE(locateSettingsFileFor(program.c_str(), nullptr, out));
    EXPECT_EQ(std::wstring(out), ini_);

    // A file beside the program wins (portable use).
    writeText("[Mwin]\r\n");
    ASSERT_TRUE(locateSettingsFileFor(program.c_str(), appData.c_str(), out));
    EXPECT_EQ(std::wstring(out), ini_);
}

TEST_F(SettingsFile, LocatingWithOverLongPathsNeverOverflows) {
    wchar_t out[kPathCapacity + 8];
    for (int i = 0; i < kPathCapacity + 8; ++i) out[i] = L'#';
    std::wstring longFolder = L"C:\\" + std::wstring(300, L'd') + L"\\";
    EXPECT_FALSE(locateSettingsFileFor((longFolder + L"Pravel.exe").c_str(), nullptr, out));
    std::wstring nearLimit = L"C:\\" + std::wstring(245, L'e') + L"\\Pravel.exe";  // 259 characters
    ASSERT_EQ(nearLimit.size(), 259u);
    ASSERT_TRUE(locateSettingsFileFor(nearLimit.c_str(), nullptr, out));  // ".ini" is as long as ".exe"
    EXPECT_EQ(std::wcslen(out), 259u);
    std::wstring program = root_ + L"Pravel.exe";
    std::wstring longAppData = L"C:\\" + std::wstring(255, L'f');
    ASSERT_TRUE(locateSettingsFileFor(program.c_str(), longAppData.c_str(), out));
    EXPECT_EQ(std::wstring(out), ini_);  // the data folder would not fit: beside the program
    for (int i = kPathCapacity; i < kPathCapacity + 8; ++i) EXPECT_EQ(out[i], L'#');
}

}  // namespace
