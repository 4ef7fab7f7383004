// The skinned window: a region built from a bitmap's pixels and the
// rescaling of a dialog's children from their design size.
#pragma once

#include <windows.h>

// The region of the pixels of `bitmap` that differ from `keyColour`
// (`keepOthers` non-zero) or equal it (0), in bitmap coordinates; null when
// there is no bitmap or the working copy cannot be made. The caller owns it.
HRGN BitmapToRegion(HBITMAP bitmap, COLORREF keyColour, int keepOthers);

// Moves and sizes every child of `window`, at any depth, by the ratio of the
// window's client size to the design size. Divides screen coordinates, so
// the window is expected at the screen origin.
void ScaleChildWindows(HWND window, int designWidth, int designHeight);
