#pragma once

class KeyedListView;
class QComboBox;

// Column widths of a report list. `column` counts from 1; columns outside the list are
// ignored. `width` is in pixels, or one of the fitting values below.
constexpr int kFitContents = -1;          // as wide as the widest cell
constexpr int kFitContentsAndHeader = -2; // as wide as the wider of header and widest cell
void SetColumnWidth(KeyedListView* list, int column, int width);
// SetColumnWidth for every column of the list.
void AutoSizeColumns(KeyedListView* list, int width);

// Light green and white rows in turn, the first row green, each `rowHeightPx` pixels high
// (0 keeps the font's row height).
void SetListStripes(KeyedListView* list, int rowHeightPx);

// Widens the drop-down list of a combo box to its longest entry; the closed combo keeps
// its size.
void FitComboDropDown(QComboBox* combo);
