// Which keys of the main thread become shortcuts: the main loop asks here before it translates
// and dispatches a message.
#pragma once

#include <windows.h>

// True when the key (with the modifiers held) edits the text of an edit control or works a
// combo box: characters, Delete, Backspace, Insert, Home, End, the arrows, Tab and Ctrl with
// A, C, V, X or Z. Function keys, Esc, Enter, the page keys and other Ctrl shortcuts are not.
bool keyEditsText(unsigned virtualKey, bool ctrl, bool shift, bool alt);

// Offers one message of the main loop to the accelerator table with the main window as
// target, unless the modal flag is set or the message is a text-editing key for the edit
// control or combo box that has the focus (the size fields, the filter list, a tree label).
// Enter in a size field applies the size as the refresh command does. True when the message
// became a command and needs no translation or dispatch.
bool translateMainShortcut(MSG& msg);
