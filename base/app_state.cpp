// Shared flags of the three user-interface threads, and the platform level rule.
#include "base/app_state.h"

std::atomic<int> g_modalFlag{0};
std::atomic<int> g_paneBusy[2] = {0, 0};
std::atomic<int> g_activePane{0};
int g_platformLevel = 0;
std::atomic<int> g_fileFilter{0};
std::atomic<int> g_mainWindowActive{0};
std::atomic<int> g_menuBarMode{0};
std::atomic<int> g_treePaneShown{0};
std::atomic<int> g_menuOpen{0};

namespace {
std::atomic<void (*)()> g_modalEnded{nullptr};
}  // namespace

void setModalEndedHandler(void (*handler)()) { g_modalEnded.store(handler); }

void endModalState() {
    g_modalFlag.store(0);
    if (void (*handler)() = g_modalEnded.load()) handler();
}

int platformLevelFor(unsigned major, unsigned minor) {
    if (major == 5 && minor == 1) return 1;
    if (major == 6) return 2;
    if (major >= 7) return 3;
    return 0;
}
