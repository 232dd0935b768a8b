#pragma once

#include <QString>

class QWidget;
class SettingsStore;

// A window's position and size kept between runs, in twips (15 per pixel), under the
// window's own name as section: "分辨率", "上", "左", "宽", "高".

// The window's screen (the primary screen when it has none yet) as width*height in pixels,
// for example "1920*1080".
QString ScreenResolutionText(const QWidget* window);

// A maximised window stores "分辨率" = "0*0" and nothing else, so its last normal position
// and size stay stored; otherwise the screen size, then Top, Left, Width and Height.
void SaveWindowPlacement(const QWidget* window, SettingsStore& settings);

// Shrinks the window to the available area of its screen (the primary screen when it has none
// yet), keeping room for a title bar, and moves it so that all of it lies inside.
void FitOnScreen(QWidget* window);

// Maximises the window unless the stored screen size is the current one; then applies the
// stored position and size, at least 4000 by 3000 twips and inside the screen's available
// area, in the normal state. Does not show the window.
void RestoreWindowPlacement(QWidget* window, const SettingsStore& settings);

// Stores the window's placement again a moment after each move, resize or change between
// maximised and normal (see SaveWindowPlacement), so that a kill or leaving the program from
// another window keeps it.
void KeepWindowPlacement(QWidget* window, SettingsStore& settings);

// Whether the window's placement was ever stored.
bool HasStoredPlacement(const QWidget* window, const SettingsStore& settings);
