#include "frame/pending_commands.h"

// Placeholders: each owner replaces its bodies when its subsystem lands.

void setPaneCellSize(int, int) {}
