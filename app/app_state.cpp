// Shared flags of the three user-interface threads, and the platform level rule.
#include "app/app_state.h"

std::atomic<int> g_modalFlag{0};
std::atomic<int> g_paneBusy[2] = {0, 0};
std::atomic<int> g_activePane{0};
int g_platformLevel = 0;

int platformLevelFor(unsigned major, unsigned minor) {
    if (major == 5 && minor == 1) return 1;
    if (major == 6) return 2;
    if (major >= 7) return 3;
    return 0;
}
