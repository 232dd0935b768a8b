#pragma once

class QWidget;

// The tool dialogs as the working windows' menus open them. Each shows its dialog modally
// over `parent` and returns when it is closed.

// The settings dialog.
void ShowOptionsDialog(QWidget* parent);
// The about box.
void ShowAboutBox(QWidget* parent);
// The link replacement over the download list; does nothing when the download window is not
// loaded.
void ShowUrlReplace(QWidget* parent);
