// The about box on the real main frame: opened by its command, closed by Esc or Enter from
// any of its windows, and the frame enabled, in front and taking shortcuts again afterwards.
#include <gtest/gtest.h>

#include "base/app_state.h"
#include "base/win_handles.h"
#include "dialogs/about_box.h"
#include "test_frame_support.h"

using namespace frametest;

namespace {

// Which window of this thread was last activated. The desktop's foreground is shared with
// the other test programs running alongside, so the frame coming back to the front is
// checked by the activation it receives instead.
HWND g_lastActivated = nullptr;

LRESULT CALLBACK watchActivation(int code, WPARAM wParam, LPARAM lParam) {
    const auto* call = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && call->message == WM_ACTIVATE && LOWORD(call->wParam) != WA_INACTIVE)
        g_lastActivated = call->hwnd;
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

class AboutBox : public FrameFixture {
protected:
    HWND open() {
        SendMessageW(frame, WM_COMMAND, 5330, 0);  // as the menu or a shortcut sends it
        pump();
        return aboutBoxWindow();
    }
};

TEST_F(AboutBox, LayoutAndModalState) {
    createFrame();
    HWND box = open();
    ASSERT_NE(box, nullptr);
    wchar_t text[64] = {};
    GetClassNameW(box, text, 64);
    EXPECT_STREQ(text, L"ver_parent_class");
    GetWindowTextW(box, text, 64);
    EXPECT_STREQ(text, L"バージョン情報");
    RECT client;
    GetClientRect(box, &client);
    EXPECT_EQ(client.right, 235);
    EXPECT_EQ(client.bottom, 104);
    GetWindowTextW(GetDlgItem(box, 102), text, 64);
    EXPECT_STREQ(text, L"Pravel  version 2.55");
    GetClassNameW(GetDlgItem(box, 100), text, 64);
    EXPECT_STREQ(text, L"ver_child_class");
    // Open: the frame is disabled and the flag holds the shortcuts back, also after the
    // command that opened the box has returned.
    EXPECT_FALSE(IsWindowEnabled(frame));
    EXPECT_EQ(g_modalFlag.load(), 1);
    // A second command while open makes no second box.
    PostMessageW(frame, WM_COMMAND, 5330, 0);
    pump();
    EXPECT_EQ(aboutBoxWindow(), box);
    SendMessageW(box, WM_CLOSE, 0, 0);
}

TEST_F(AboutBox, EscAndEnterCloseFromEveryControl) {
    createFrame();
    const struct {
        int control;  // 0: the box itself
        WPARAM key;
    } cases[] = {{101, VK_ESCAPE}, {101, VK_RETURN}, {0, VK_ESCAPE}, {0, VK_RETURN}, {100, VK_ESCAPE}, {100, VK_RETURN}};
    for (const auto& c : cases) {
        HWND box = open();
        ASSERT_NE(box, nullptr);
        HWND target = c.control ? GetDlgItem(box, c.control) : box;
        SendMessageW(target, WM_KEYDOWN, c.key, 0);
        pump();
        EXPECT_FALSE(IsWindow(box)) << c.control << " " << c.key;
        EXPECT_EQ(aboutBoxWindow(), nullptr);
        EXPECT_TRUE(IsWindowEnabled(frame));
        EXPECT_EQ(g_modalFlag.load(), 0);
        // The classes went with the box.
        WNDCLASSW wc;
        EXPECT_FALSE(GetClassInfoW(g_instance, L"ver_parent_class", &wc));
        EXPECT_FALSE(GetClassInfoW(g_instance, L"ver_child_class", &wc));
    }
    // The OK button by click, and the frame in front afterwards.
    HWND box = open();
    ASSERT_NE(box, nullptr);
    HookHandle hook(SetWindowsHookExW(WH_CALLWNDPROC, watchActivation, nullptr, GetCurrentThreadId()));
    ASSERT_TRUE(hook);
    g_lastActivated = nullptr;
    SendMessageW(GetDlgItem(box, 101), BM_CLICK, 0, 0);
    pump();
    hook.reset();
    EXPECT_FALSE(IsWindow(box));
    EXPECT_EQ(g_lastActivated, frame);
}

}  // namespace
