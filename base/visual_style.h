#pragma once
// Visual-style calls that some supported systems lack, looked up when first used.
#include <windows.h>

// Draws the control without the visual style (classic look); does nothing where the system
// has no visual styles.
void removeVisualStyle(HWND window);
// Gives a tab page the tab control's themed background; does nothing without visual styles.
void enableTabPageTexture(HWND page);
