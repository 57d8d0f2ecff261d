// pravel-ctl: drives a running Pravel (or any window) from scripts: waits for a window to be
// shown and idle, reads its title and child windows, posts messages, closes it the way a user
// does. Console program; texts are printed as UTF-8.
//
//   pravel-ctl wait CLASS TIMEOUT_MS        a visible top-level window of CLASS exists and its
//                                           thread answers (it is pumping messages again)
//   pravel-ctl close CLASS TIMEOUT_MS       posts WM_CLOSE to it, waits until the window is gone
//                                           and its process has ended
//   pravel-ctl title CLASS                  prints the window text
//   pravel-ctl pid CLASS                    prints the owning process id
//   pravel-ctl list                         prints every visible top-level window: class, title
//   pravel-ctl children CLASS               prints the child windows: class, id, rect, text
//   pravel-ctl post CLASS MSG WPARAM LPARAM posts a message (numbers decimal or 0x hex)
//   pravel-ctl send CLASS MSG WPARAM LPARAM sends a message, prints the result
//   pravel-ctl window CLASS TITLE           shows a plain window of CLASS (a test fixture)
//
// Exit status: 0 done, 1 window not found or timed out, 2 usage error.
#include <windows.h>

#include <cstdlib>
#include <cwchar>
#include <string>

namespace {

void writeUtf8(const std::wstring& text) {
    int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0,
                                nullptr, nullptr);
    std::string out(n > 0 ? n : 0, '\0');
    if (n > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n,
                            nullptr, nullptr);
    }
    out += '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written,
              nullptr);
}

std::wstring classOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

std::wstring textOf(HWND hwnd) {
    // WM_GETTEXT through SendMessageTimeout: a hung target must not hang the tool.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return L"";
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                             SMTO_ABORTIFHUNG, 2000, &copied))
        return L"";
    text.resize(copied < length ? copied : length);
    return text;
}

struct FindRequest {
    const wchar_t* className;
    HWND found;
};

BOOL CALLBACK findVisible(HWND hwnd, LPARAM param) {
    auto* request = reinterpret_cast<FindRequest*>(param);
    if (IsWindowVisible(hwnd) && classOf(hwnd) == request->className) {
        request->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

// A visible top-level window of the class, else any top-level window of it, else null.
HWND findWindow(const wchar_t* className, bool visibleOnly) {
    FindRequest request{className, nullptr};
    EnumWindows(findVisible, reinterpret_cast<LPARAM>(&request));
    if (request.found || visibleOnly) return request.found;
    return FindWindowW(className, nullptr);
}

LONG_PTR parseNumber(const wchar_t* text) {
    return static_cast<LONG_PTR>(std::wcstoll(text, nullptr, 0));
}

int usage() {
    writeUtf8(L"usage: pravel-ctl wait|close CLASS TIMEOUT_MS | title|pid|children CLASS | list | "
              L"post|send CLASS MSG WPARAM LPARAM | window CLASS TITLE");
    return 2;
}

int cmdWait(const wchar_t* className, DWORD timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        HWND hwnd = findWindow(className, true);
        if (hwnd) {
            DWORD_PTR result = 0;
            // Answered only when the window's thread is back in its message loop.
            if (SendMessageTimeoutW(hwnd, WM_NULL, 0, 0, SMTO_ABORTIFHUNG | SMTO_BLOCK, 1000, &result)) {
                DWORD pid = 0;
                GetWindowThreadProcessId(hwnd, &pid);
                if (HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, pid)) {
                    DWORD left = timeoutMs - (GetTickCount() - start);
                    WaitForInputIdle(process, left > timeoutMs ? 0 : left);
                    CloseHandle(process);
                }
                return 0;
            }
        }
        if (GetTickCount() - start >= timeoutMs) return 1;
        Sleep(100);
    }
}

int cmdClose(const wchar_t* className, DWORD timeoutMs) {
    HWND hwnd = findWindow(className, false);
    if (!hwnd) return 1;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
    DWORD start = GetTickCount();
    PostMessageW(hwnd, WM_CLOSE, 0, 0);
    while (IsWindow(hwnd)) {
        if (GetTickCount() - start >= timeoutMs) {
            if (process) CloseHandle(process);
            return 1;
        }
        Sleep(50);
    }
    int rc = 0;
    if (process) {
        DWORD elapsed = GetTickCount() - start;
        DWORD left = elapsed >= timeoutMs ? 0 : timeoutMs - elapsed;
        if (WaitForSingleObject(process, left) != WAIT_OBJECT_0) rc = 1;
        CloseHandle(process);
    }
    return rc;
}

BOOL CALLBACK listTopLevel(HWND hwnd, LPARAM) {
    if (!IsWindowVisible(hwnd)) return TRUE;
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    writeUtf8(classOf(hwnd) + L"\t" + std::to_wstring(pid) + L"\t" + textOf(hwnd));
    return TRUE;
}

struct ChildList {
    HWND top;
};

BOOL CALLBACK listChild(HWND hwnd, LPARAM param) {
    auto* list = reinterpret_cast<ChildList*>(param);
    RECT rect{};
    GetWindowRect(hwnd, &rect);
    POINT origin{rect.left, rect.top};
    ScreenToClient(list->top, &origin);
    std::wstring line = classOf(hwnd) + L"\t" + std::to_wstring(GetDlgCtrlID(hwnd)) + L"\t" +
                        std::to_wstring(origin.x) + L"," + std::to_wstring(origin.y) + L"," +
                        std::to_wstring(rect.right - rect.left) + L"x" +
                        std::to_wstring(rect.bottom - rect.top) + L"\t" +
                        (IsWindowVisible(hwnd) ? L"visible" : L"hidden") + L"\t" + textOf(hwnd);
    writeUtf8(line);
    return TRUE;
}

LRESULT CALLBACK fixtureProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcW(hwnd, msg, wp, lp);
}

int cmdWindow(const wchar_t* className, const wchar_t* title) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = fixtureProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = className;
    if (!RegisterClassW(&wc)) return 1;
    HWND hwnd = CreateWindowW(className, title, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 400, 200,
                              nullptr, nullptr, wc.hInstance, nullptr);
    if (!hwnd) return 1;
    CreateWindowW(L"STATIC", title, WS_CHILD | WS_VISIBLE, 10, 10, 360, 24, hwnd,
                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(1001)), wc.hInstance, nullptr);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 2) return usage();
    std::wstring command = argv[1];
    if (command == L"list") {
        EnumWindows(listTopLevel, 0);
        return 0;
    }
    if (argc < 3) return usage();
    const wchar_t* className = argv[2];
    if (command == L"wait" || command == L"close") {
        if (argc < 4) return usage();
        DWORD timeoutMs = static_cast<DWORD>(parseNumber(argv[3]));
        return command == L"wait" ? cmdWait(className, timeoutMs) : cmdClose(className, timeoutMs);
    }
    if (command == L"window") {
        return cmdWindow(className, argc > 3 ? argv[3] : L"");
    }
    HWND hwnd = findWindow(className, false);
    if (!hwnd) return 1;
    if (command == L"title") {
        writeUtf8(textOf(hwnd));
        return 0;
    }
    if (command == L"pid") {
        DWORD pid = 0;
        GetWindowThreadProcessId(hwnd, &pid);
        writeUtf8(std::to_wstring(pid));
        return 0;
    }
    if (command == L"children") {
        ChildList list{hwnd};
        EnumChildWindows(hwnd, listChild, reinterpret_cast<LPARAM>(&list));
        return 0;
    }
    if (command == L"post" || command == L"send") {
        if (argc < 6) return usage();
        UINT msg = static_cast<UINT>(parseNumber(argv[3]));
        WPARAM wp = static_cast<WPARAM>(parseNumber(argv[4]));
        LPARAM lp = static_cast<LPARAM>(parseNumber(argv[5]));
        if (command == L"post") return PostMessageW(hwnd, msg, wp, lp) ? 0 : 1;
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(hwnd, msg, wp, lp, SMTO_ABORTIFHUNG, 5000, &result)) return 1;
        writeUtf8(std::to_wstring(static_cast<long long>(result)));
        return 0;
    }
    return usage();
}
