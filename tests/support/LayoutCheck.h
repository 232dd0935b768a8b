#pragma once

#include <QStringList>

class QWidget;

// What a user would see wrong in a window as it is now laid out: the window not wholly on its
// screen (a title bar of `titleBar` pixels above it included), two controls of the window
// covering each other, a caption or text cut off, and a list whose columns leave the list's free
// width empty while its last column is cut. One line for each fault, naming the controls.
QStringList LayoutFaults(QWidget* window, int titleBar = 40);
