// The column dialog: which columns the record list shows, and in which order. Two lists,
// Available (sorted) and Selected (in display order); names move between them by the arrow
// buttons, double-click, Space or drag and drop; Up and Down reorder Selected; Reset restores
// the default choice. The dialog keeps its own bounds in "\CustomizeColumns\Bounds".
#pragma once

#include <QString>

namespace velloran {

// AAll: every column name the data holds; ADefaults: the default choice; ACurrent (in and
// out): the current choice in display order; all three names separated by "|". True on OK,
// with the new choice in ACurrent and the dialog's bounds stored; on Cancel nothing changes.
bool ExecuteColumnsDialog(const QString& AAll, const QString& ADefaults, QString& ACurrent);

}  // namespace velloran
