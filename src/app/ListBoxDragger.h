// Drag and drop within and between two list widgets.
