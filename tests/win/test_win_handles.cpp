// The handle owners: each frees its handle exactly once, a moved-from owner frees nothing, the
// "none" value of each creator is never freed, and a selection puts the old object back.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>

#include "base/win_handles.h"

namespace {

std::wstring tempFile(const wchar_t* name) {
    wchar_t dir[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    return std::wstring(dir) + name + std::to_wstring(GetCurrentProcessId());
}

// Share mode 0: while one handle is open no second one can be, so an open tells whether the
// previous owner really closed its handle.
HANDLE openExclusive(const std::wstring& path) {
    return CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(WinHandles, FileOwnerClosesOnceAndMovesWithoutClosing) {
    const std::wstring path = tempFile(L"pravel_handles_a"), other = tempFile(L"pravel_handles_b");
    {
        FileHandle first(openExclusive(path));
        ASSERT_TRUE(first);
        FileHandle second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(first.get(), INVALID_HANDLE_VALUE);
        EXPECT_TRUE(first.close());  // nothing to close
        // Still open after the move: the file cannot be opened a second time.
        EXPECT_FALSE(FileHandle(openExclusive(path)));
        EXPECT_EQ(GetLastError(), DWORD(ERROR_SHARING_VIOLATION));

        // Assigning over an owner closes what it held; the new owner's close succeeds once.
        second = FileHandle(openExclusive(other));
        ASSERT_TRUE(second);
        EXPECT_TRUE(FileHandle(openExclusive(path)));
        EXPECT_FALSE(FileHandle(openExclusive(other)));
        EXPECT_TRUE(second.close());
        EXPECT_FALSE(second);
        EXPECT_TRUE(FileHandle(openExclusive(other)));
    }
    // A failed CreateFileW and a search without a match hold the "none" value and free nothing.
    EXPECT_FALSE(FileHandle(CreateFileW(L"Z:\\no\\such\\folder\\file", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                        nullptr)));
    WIN32_FIND_DATAW data;
    EXPECT_FALSE(FindHandle(FindFirstFileW((path + L".none*").c_str(), &data)));
    EXPECT_FALSE(KernelHandle(CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READONLY, 0, 0, nullptr)));
    DeleteFileW(path.c_str());
    DeleteFileW(other.c_str());
}

TEST(WinHandles, SelectionPutsTheOldObjectBackBeforeTheOwnerDeletesIt) {
    const MemoryDC dc(CreateCompatibleDC(nullptr));
    ASSERT_TRUE(dc);
    const HGDIOBJ oldBrush = GetCurrentObject(dc.get(), OBJ_BRUSH);
    const HGDIOBJ oldPen = GetCurrentObject(dc.get(), OBJ_PEN);
    HBRUSH brushHandle = nullptr;
    {
        OwnedBrush brush(CreateSolidBrush(RGB(1, 2, 3)));
        const OwnedPen pen(CreatePen(PS_SOLID, 1, RGB(4, 5, 6)));
        brushHandle = brush.get();
        {
            const SelectedObject b(dc.get(), brush.get()), p(dc.get(), pen.get());
            EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BRUSH), brush.get());
            EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), pen.get());
            const SelectedObject none(dc.get(), nullptr);  // selects nothing, restores nothing
        }
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_BRUSH), oldBrush);
        EXPECT_EQ(GetCurrentObject(dc.get(), OBJ_PEN), oldPen);
        const OwnedBrush moved(std::move(brush));
        EXPECT_EQ(GetObjectType(brushHandle), DWORD(OBJ_BRUSH));
    }
    EXPECT_EQ(GetObjectType(brushHandle), 0u);  // deleted once, by the owner it was moved to
}

// A window painted through the scope is validated (EndPaint ran) and gets its DC back.
TEST(WinHandles, PaintScopeEndsThePaint) {
    HWND window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 40, 30, nullptr, nullptr, nullptr,
                                  nullptr);
    ASSERT_TRUE(window);
    InvalidateRect(window, nullptr, FALSE);
    EXPECT_TRUE(GetUpdateRect(window, nullptr, FALSE));
    {
        const PaintScope paint(window);
        EXPECT_TRUE(paint.dc());
    }
    EXPECT_FALSE(GetUpdateRect(window, nullptr, FALSE));
    const WindowDC dc(window);
    EXPECT_TRUE(dc);
    DestroyWindow(window);
}

}  // namespace
