// Measurements on request (PRAVEL_LARGE=1 and PRAVEL_MEMORY_FOLDER, a folder of photographs
// made outside the tree; PRAVEL_MEMORY_CELL "WxH", default 148x111): a live pane loads the
// folder cold and then warm, and the process's peak resident memory of each load, the time to
// the first screen of the warm load and the whole warm load are printed; then the pane is
// scrolled from top to end a page at a time, and every page must show every thumbnail.
// PRAVEL_MEMORY_SHOTS names a folder for pictures of the pane at the top, the middle and the
// end (BMP). Nothing here is timed against a bound: the figures go to the README.
#include "test_pane_support.h"

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace panetest;

namespace {

std::wstring environment(const wchar_t* name) {
    wchar_t value[1024] = {};
    const DWORD n = GetEnvironmentVariableW(name, value, 1024);
    return n > 0 && n < 1024 ? std::wstring(value) : std::wstring();
}

// The process's peak working set so far, in MiB (Wine reads it from the kernel's count of the
// process's resident pages). A process measures one load's peak only for its first load: the
// cache of the folder can be carried from one run to the next (PRAVEL_MEMORY_CACHE) so that
// a run's first load is a warm one.
double peakResidentMiB() {
    using Query = BOOL(WINAPI*)(HANDLE, PROCESS_MEMORY_COUNTERS*, DWORD);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "K32GetProcessMemoryInfo")));
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!query || !query(GetCurrentProcess(), &counters, sizeof counters)) return -1;
    return double(counters.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

void copyFiles(const std::wstring& from, const std::wstring& to) {
    CreateDirectoryW(to.c_str(), nullptr);
    WIN32_FIND_DATAW fd;
    HANDLE h = FindFirstFileW((from + L"\\*.dat").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return;
    do {
        CopyFileW((from + L"\\" + fd.cFileName).c_str(), (to + L"\\" + fd.cFileName).c_str(), FALSE);
    } while (FindNextFileW(h, &fd));
    FindClose(h);
}

class PaneMemory : public PaneFixture {
protected:
    void SetUp() override {
        if (!largeRunsRequested() || environment(L"PRAVEL_MEMORY_FOLDER").empty())
            GTEST_SKIP() << "set PRAVEL_LARGE=1 and PRAVEL_MEMORY_FOLDER to measure";
        PaneFixture::SetUp();
    }

    bool screenShown() {
        if (!pane.items || pane.cellEnd <= pane.cellFirst) return false;
        for (int i = pane.cellFirst; i < pane.cellEnd && i < pane.itemCount; ++i)
            if (!pane.items[i].pixels) return false;
        return true;
    }

    // A 24-bit BMP of the pane as the screen shows it.
    void shoot(const std::wstring& path) {
        RECT r{};
        GetWindowRect(pane.outerWindow, &r);
        const int w = r.right - r.left, h = r.bottom - r.top;
        HDC screen = GetDC(nullptr);
        HDC memory = CreateCompatibleDC(screen);
        BITMAPINFO bi{};
        bi.bmiHeader.biSize = sizeof bi.bmiHeader;
        bi.bmiHeader.biWidth = w;
        bi.bmiHeader.biHeight = h;
        bi.bmiHeader.biPlanes = 1;
        bi.bmiHeader.biBitCount = 24;
        void* bits = nullptr;
        HBITMAP section = CreateDIBSection(screen, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ old = SelectObject(memory, section);
        BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        const size_t stride = size_t((w * 3 + 3) & ~3);
        std::string file(54, '\0');
        auto le32 = [&](size_t at, uint32_t v) {
            for (int k = 0; k < 4; ++k) file[at + k] = char((v >> (8 * k)) & 0xFF);
        };
        file[0] = 'B';
        file[1] = 'M';
        le32(2, uint32_t(54 + stride * size_t(h)));
        le32(10, 54);
        std::memcpy(&file[14], &bi.bmiHeader, 40);
        file.append(static_cast<const char*>(bits), stride * size_t(h));
        writeBytes(path, file);
        SelectObject(memory, old);
        DeleteObject(section);
        DeleteDC(memory);
        ReleaseDC(nullptr, screen);
    }
};

TEST_F(PaneMemory, PeakResidentFirstScreenAndEveryPageScrolled) {
    const std::wstring folder = environment(L"PRAVEL_MEMORY_FOLDER");
    const std::wstring cellText = environment(L"PRAVEL_MEMORY_CELL");
    const std::wstring shots = environment(L"PRAVEL_MEMORY_SHOTS");
    int cw = 148, ch = 111;
    if (!cellText.empty()) swscanf(cellText.c_str(), L"%dx%d", &cw, &ch);
    g_settings.thumbWidth = cw;
    g_settings.thumbHeight = ch;
    updateTextAreaHeight(g_settings);
    publishPaneSettings(g_settings);
    const int columns = cw >= 400 ? 1 : 6, rows = cw >= 400 ? 1 : 4;
    sizeBase(columns * pitchW(), rows * pitchH());

    const std::wstring carried = environment(L"PRAVEL_MEMORY_CACHE");
    if (!carried.empty()) copyFiles(carried, cacheFolder);
    const double before = peakResidentMiB();
    double start = nowMs();
    load(folder);
    const double coldMs = nowMs() - start;
    const double coldPeak = peakResidentMiB();
    const int total = pane.itemCount;
    ASSERT_GT(total, 0);
    const std::wstring shownText = statusText(2);
    if (!carried.empty()) copyFiles(cacheFolder, carried);
    std::printf("[ MEASURED ] cell %dx%d, %d files: first load %.0f ms, status \"%s\", peak resident %.0f MiB "
                "(%.0f MiB before the load)\n",
                cw, ch, total, coldMs, wideToUtf8(shownText).c_str(), coldPeak, before);
    EXPECT_EQ(shownText, L"0/" + std::to_wstring(total));

    // Warm: the first screen, then the whole load.
    publishPaneSettings(g_settings);
    postPaneFolder(pane.outerWindow, folder.c_str());
    PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeClear, 1);
    start = nowMs();
    PostMessageW(pane.outerWindow, kCrossThreadMessage, CodeLoadFolder, 1);
    double firstScreenMs = -1;
    while (g_paneBusy[0].load() == PaneIdle && nowMs() - start < 5000) Sleep(1);
    while (firstScreenMs < 0 && g_paneBusy[0].load() != PaneIdle) {
        // Shown ahead of their turn or filled: either way the user sees the screen.
        if (screenShown()) firstScreenMs = nowMs() - start;
        Sleep(1);
    }
    flush();
    const double warmMs = nowMs() - start;
    if (firstScreenMs < 0 && screenShown()) firstScreenMs = warmMs;
    std::printf("[ MEASURED ] warm load: first screen %.0f ms, whole load %.0f ms, peak so far %.0f MiB\n",
                firstScreenMs, warmMs, peakResidentMiB());
    ASSERT_EQ(pane.itemCount, total);

    // Every page from top to end shows every thumbnail (each page waited for).
    int pages = 0, blank = 0;
    bool middleShot = false;
    start = nowMs();
    for (;;) {
        if (!waitFor([&] { return screenShown(); }, 20000)) ++blank;
        ++pages;
        if (!shots.empty() && pages == 1) shoot(shots + L"\\top.bmp");
        if (!shots.empty() && !middleShot && pane.cellFirst >= total / 2) {
            shoot(shots + L"\\middle.bmp");
            middleShot = true;
        }
        if (pane.cellEnd >= total) break;
        const int was = pane.cellFirst;
        scroll(SB_PAGEDOWN);
        flush();
        if (pane.cellFirst == was) break;
    }
    if (!shots.empty()) shoot(shots + L"\\end.bmp");
    std::printf("[ MEASURED ] scrolled through %d pages in %.0f ms, %d without every thumbnail, peak so far "
                "%.0f MiB\n",
                pages, nowMs() - start, blank, peakResidentMiB());
    EXPECT_EQ(blank, 0);
}

}  // namespace
