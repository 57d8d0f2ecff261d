#include "frame/frame_state.h"

FrameWindows g_frame = {};
