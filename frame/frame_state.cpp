#include "frame/frame_state.h"

std::atomic<int> g_fileFilter{0};
std::atomic<int> g_mainWindowActive{0};
std::atomic<int> g_menuBarMode{0};
std::atomic<int> g_treePaneShown{0};
std::atomic<int> g_menuOpen{0};
FrameWindows g_frame = {};
