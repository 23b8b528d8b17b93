#pragma once

class QTableView;

// The look of a data grid: fixed rows one line of text high without word wrap, and a
// narrow row indicator in place of row numbers that marks the current row.
// Call after the grid has its model.
void applyGridLook(QTableView* grid);
