// Closing the real program while a pane loads a large folder, while it writes that folder's
// cache, while it decodes a 24-megapixel PNG and while a plug-in call sleeps for 10 s. This executable is also the program: run under the name Pravel.exe (a copy
// in a private folder, with its own settings file and cache) it runs the application and,
// once that returns, writes what the shutdown did to exit_report.txt beside itself.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/app_win.h"
#include "test_wine_support.h"
#include "image/jpeg_codec.h"
#include "thumbs/folder_loader.h"
#include "thumbs/thumbnail_cache.h"

#include "test_process_support.h"

namespace {

namespace fs = std::filesystem;
using namespace proctest;

constexpr int kImages = 3000;
constexpr DWORD kBoundMs = 120000;  // only a bound against hanging, never a measure

std::wstring selfPath() {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    return self;
}

// ---------------------------------------------------------------- the program side

int runAsProgram() {
    const int code = runApplication(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
    const fs::path report = fs::path(selfPath()).parent_path() / L"exit_report.txt";
    if (FILE* f = _wfopen(report.c_str(), L"w")) {
        std::fprintf(f, "abandoned=%d shutdownMs=%lu decoders=%d\n", abandonedThreadCount(),
                     static_cast<unsigned long>(shutdownSequenceMs()), decodingThreadsRunning());
        std::fclose(f);
    }
    leaveProcess(code);
    return code;
}

// ---------------------------------------------------------------- the test side

std::wstring tempRoot(const std::wstring& name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    const fs::path path = fs::path(dir) / (L"pravel_exit_" + name + L"_" + std::to_wstring(GetCurrentProcessId()));
    std::error_code ignored;
    fs::remove_all(path, ignored);
    fs::create_directories(path);
    return path.wstring();
}

// One 160 x 120 JPEG, copied kImages times: every file is decoded and scaled to a full cell.
std::wstring g_imageFolder;

std::wstring imageFolder() {
    std::wstring& folder = g_imageFolder;
    if (!folder.empty()) return folder;
    folder = tempRoot(L"images");
    const int w = 160, h = 120, stride = (w * 3 + 3) & ~3;
    std::vector<uint8_t> pixels(size_t(stride) * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            uint8_t* p = &pixels[size_t(y) * stride + size_t(x) * 3];
            p[0] = uint8_t(x * 3);
            p[1] = uint8_t(y * 2);
            p[2] = uint8_t(x + y);
        }
    std::vector<uint8_t> jpeg(size_t(stride) * h + 4096);
    uint32_t size = uint32_t(jpeg.size());
    DepthConversion conversion;
    conversion.width = w;
    conversion.height = h;
    if (!encodeJpegThumbnail(jpeg.data(), &size, pixels.data(), conversion)) return folder;
    const std::wstring first = folder + L"\\img00000.jpg";
    if (!writeWholeFile(first.c_str(), jpeg.data(), size)) return folder;
    for (int i = 1; i < kImages; ++i) {
        wchar_t name[32];
        wsprintfW(name, L"\\img%05d.jpg", i);
        CopyFileW(first.c_str(), (folder + name).c_str(), FALSE);
    }
    return folder;
}

bool anyFile(const std::wstring& pattern) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(pattern.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

enum class CloseMoment { WhileLoading, WhileWritingCache };

struct ExitResult {
    bool started = false;
    bool closedInTheMoment = false;  // the load, or the cache write, was still running
    bool exited = false;
    double closeMs = 0;              // from the close message to the process's end
    int abandoned = -1;              // threads the shutdown left behind (none is ever killed)
    long shutdownMs = -1;            // inside the program: from the close to the saved settings
    int decodersLeft = -1;           // decoding threads still in their file when the process left
    bool settingsWritten = false;
    bool partialFileLeft = false;
};

// Runs the program copy in `home` on `folder` (by default the image folder) with the settings
// file `ini` and closes it at the moment given.
ExitResult runAndClose(const std::wstring& home, CloseMoment moment, std::wstring folder = {},
                       const std::string& ini = {}, DWORD settleMs = 300) {
    if (folder.empty()) folder = imageFolder();
    ExitResult r;
    const std::wstring program = home + L"\\Pravel.exe";
    const std::wstring cache = home + L"\\cache";
    if (!CopyFileW(selfPath().c_str(), program.c_str(), FALSE)) return r;
    DeleteFileW((home + L"\\exit_report.txt").c_str());
    // An empty settings file beside the program keeps settings and cache in this folder.
    if (!writeWholeFile((home + L"\\Pravel.ini").c_str(), ini.data(), ini.size())) return r;

    Desktop desktop(L"PravelExit");
    std::wstring commandLine = L"\"" + program + L"\" \"" + folder + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.lpDesktop = desktop.startupName();
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, home.c_str(), &si,
                        &pi))
        return r;
    r.started = true;

    HWND frame = nullptr;
    const DWORD start = GetTickCount();
    auto inBound = [&] { return GetTickCount() - start < kBoundMs && WaitForSingleObject(pi.hProcess, 0) == WAIT_TIMEOUT; };
    while (inBound() && !(frame = findWindowOf(pi.dwProcessId, L"Pravel_main_class"))) Sleep(20);
    if (moment == CloseMoment::WhileLoading) {
        // The first cells exist once the folder is listed; a moment later it is loading.
        while (inBound() && !childWindowOf(frame, pi.dwProcessId, L"Pravel_thimg1_class")) Sleep(5);
        Sleep(settleMs);
        r.closedInTheMoment = !anyFile(cache + L"\\*.new") && !anyFile(cache + L"\\1*.dat");
    } else {
        // The cache write makes its file beside the data file and renames it when done.
        while (inBound() && !anyFile(cache + L"\\*.new")) Sleep(1);
        r.closedInTheMoment = anyFile(cache + L"\\*.new");
    }
    LARGE_INTEGER frequency, before, after;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&before);
    PostMessageW(frame, WM_CLOSE, 0, 0);
    r.exited = WaitForSingleObject(pi.hProcess, kBoundMs) == WAIT_OBJECT_0;
    QueryPerformanceCounter(&after);
    r.closeMs = double(after.QuadPart - before.QuadPart) * 1000.0 / double(frequency.QuadPart);
    if (!r.exited) TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);

    std::string report;
    if (readWholeFile((home + L"\\exit_report.txt").c_str(), report))
        std::sscanf(report.c_str(), "abandoned=%d shutdownMs=%ld decoders=%d", &r.abandoned, &r.shutdownMs,
                    &r.decodersLeft);
    // The settings file given holds no cell size: one written at exit does.
    std::string saved;
    r.settingsWritten = readWholeFile((home + L"\\Pravel.ini").c_str(), saved) && saved.find("ThImgW") != std::string::npos;
    r.partialFileLeft = anyFile(cache + L"\\*.new");
    return r;
}

// What the next start finds: no data file, or one from which every thumbnail comes.
int thumbnailsInCache(const std::wstring& home) {
    CacheLocation location{home + L"\\cache\\", 148, 111};
    FolderCache table;
    bool larger = false, smaller = false;
    if (!openFolderCache(location, imageFolder(), table, larger, smaller)) return 0;
    int taken = 0;
    ImageDecoder decoder;
    LoadInfo loaded;
    for (int i = 0; i < kImages; ++i) {
        wchar_t name[32];
        wsprintfW(name, L"img%05d.jpg", i);
        if (takeFromCache(table, name, imageFolder() + L"\\" + name, 148, 111, decoder, loaded)) {
            ++taken;
            pageFree(loaded.current->pixels);
            loaded.current->pixels = nullptr;
        }
    }
    return taken;
}

void expectCleanExit(const ExitResult& r, const char* what) {
    ASSERT_TRUE(r.started);
    EXPECT_TRUE(r.exited);
    EXPECT_TRUE(r.closedInTheMoment) << "the close did not come " << what;
    EXPECT_EQ(r.abandoned, 0) << "every pane thread must end by itself";
    EXPECT_TRUE(r.settingsWritten);
    EXPECT_FALSE(r.partialFileLeft);
    std::printf("[ figure ] closed %s: threads stopped and settings saved %ld ms after the close message; the "
                "process ended after %.0f ms\n",
                what, r.shutdownMs, r.closeMs);
}

// Under Wine on a display without a window manager, hiding a top-level window waits for the
// window's withdrawal from the X server for about two seconds; the program's own end comes on
// top of that. Measured here on a bare window for the figures above.
TEST(ProgramExit, WhatHidingABareTopLevelWindowCostsHere) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"PravelExitBareWindow";
    RegisterClassW(&wc);
    HWND bare = CreateWindowExW(0, wc.lpszClassName, L"bare", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                wc.hInstance, nullptr);
    ASSERT_NE(bare, nullptr);
    ShowWindow(bare, SW_SHOW);
    UpdateWindow(bare);
    MSG msg;
    for (int i = 0; i < 50; ++i) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        Sleep(10);
    }
    const DWORD before = GetTickCount();
    ShowWindow(bare, SW_HIDE);
    const DWORD hidden = GetTickCount() - before;
    DestroyWindow(bare);
    std::printf("[ figure ] hiding a bare top-level window took %lu ms\n", static_cast<unsigned long>(hidden));
}

TEST(ProgramExit, ClosingWhileAPaneLoadsThreeThousandImages) {
    const std::wstring home = tempRoot(L"loading");
    const ExitResult r = runAndClose(home, CloseMoment::WhileLoading);
    expectCleanExit(r, "during the load");
    // An interrupted load writes no cache.
    EXPECT_EQ(thumbnailsInCache(home), 0);
    std::error_code ignored;
    fs::remove_all(home, ignored);
}

TEST(ProgramExit, ClosingDuringTheCacheWriteKeepsNoHalfFile) {
    const std::wstring home = tempRoot(L"writing");
    const ExitResult r = runAndClose(home, CloseMoment::WhileWritingCache);
    expectCleanExit(r, "during the cache write");
    const int taken = thumbnailsInCache(home);
    std::printf("[ figure ] thumbnails the next start takes from the cache: %d of %d\n", taken, kImages);
    EXPECT_TRUE(taken == 0 || taken == kImages) << "the data file must be absent or complete, not " << taken;
    std::error_code ignored;
    fs::remove_all(home, ignored);
}

// ---------------------------------------------------------------- a file the pane waits on

// A close in the middle of one long decode or plug-in call: the pane's load stops without
// waiting for the decoding thread busy with that file, so the pane thread ends by itself
// within its second and the process ends (the figures are printed; the program's goal is
// under 1.5 s, never asserted on a shared machine).

std::wstring largePngFolder() {
    static std::wstring folder;
    if (!folder.empty()) return folder;
    folder = tempRoot(L"png24mp");
    const std::string png = winetest::largePngBytes(6000, 4000);
    for (int i = 0; i < 6 && !png.empty(); ++i)
        writeWholeFile((folder + L"\\large" + std::to_wstring(i) + L".png").c_str(), png.data(), png.size());
    return folder;
}

TEST(ProgramExit, ClosingDuringTheDecodeOfA24MegapixelPng) {
    const std::wstring home = tempRoot(L"png");
    // Soon after the listing: a machine with a decoding thread per file finishes a few of these
    // within the usual 300 ms.
    const ExitResult r = runAndClose(home, CloseMoment::WhileLoading, largePngFolder(), {}, 30);
    expectCleanExit(r, "during a 6000 x 4000 PNG decode");
    // The decode gave up within a few rows of the stop: nothing was left running.
    EXPECT_EQ(r.decodersLeft, 0);
    std::error_code ignored;
    fs::remove_all(home, ignored);
    fs::remove_all(largePngFolder(), ignored);
}

// A test picture whose plug-in call sleeps 10 s (flag 16 of the test plug-in's format).
std::wstring sleepingPluginFolder(const std::wstring& home) {
    const std::wstring folder = home + L"\\pictures";
    fs::create_directories(folder);
    std::string picture("TPIC", 4);
    const unsigned char rest[] = {2, 0, 2, 0, 24, 16, 0, 0};  // 2 x 2, 24 bits, flag 16, no colours
    picture.append(reinterpret_cast<const char*>(rest), sizeof rest);
    picture.append(16, '\x40');
    writeWholeFile((folder + L"\\sleeps.tpi").c_str(), picture.data(), picture.size());
    const fs::path plugins = fs::path(selfPath()).parent_path().parent_path() / L"plugins" / L"tpic.spi";
    fs::create_directories(home + L"\\spi");
    std::error_code copied;
    fs::copy_file(plugins, fs::path(home) / L"spi" / L"tpic.spi", fs::copy_options::overwrite_existing, copied);
    return copied ? std::wstring() : folder;
}

TEST(ProgramExit, ClosingDuringAPluginCallThatSleepsTenSeconds) {
    const std::wstring home = tempRoot(L"plugin");
    const std::wstring folder = sleepingPluginFolder(home);
    ASSERT_FALSE(folder.empty()) << "build test_plugins";
    std::string ini = "[Path]\r\nSPI=";
    std::string spi;
    for (wchar_t c : home + L"\\spi") spi += char(c);  // the temporary folder's path is ASCII here
    ini += spi + "\r\n";
    const ExitResult r = runAndClose(home, CloseMoment::WhileLoading, folder, ini);
    ASSERT_TRUE(r.started);
    EXPECT_TRUE(r.exited);
    EXPECT_TRUE(r.closedInTheMoment);
    EXPECT_TRUE(r.settingsWritten);
    EXPECT_EQ(r.abandoned, 0) << "the pane thread must end by itself; only the plug-in call is left behind";
    std::printf("[ figure ] closed during a plug-in call that sleeps 10 s: settings saved %ld ms after the close "
                "message; the process ended after %.0f ms; pane threads left behind: %d, plug-in calls: %d\n",
                r.shutdownMs, r.closeMs, r.abandoned, r.decodersLeft);
    std::error_code ignored;
    fs::remove_all(home, ignored);
}

}  // namespace

int main(int argc, char** argv) {
    if (fs::path(selfPath()).filename() == L"Pravel.exe") return runAsProgram();
    testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::error_code ignored;
    if (!g_imageFolder.empty()) fs::remove_all(g_imageFolder, ignored);
    return result;
}
