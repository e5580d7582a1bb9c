// Command numbers of the editor's tool bar and view.
#pragma once

enum : int {
  ID_EXIT = 32771,
  ID_ZOOM_IN = 32773,
  ID_ZOOM_OUT = 32775,
  ID_TOOL_ZOOM = 32776,
  ID_TOOL_HAND = 32777,
  ID_TOOL_MARK_BACKGROUND = 32778,
  ID_TOOL_MARK_OBJECT = 32779,
  ID_TOOL_MANUAL = 32780,
  ID_DELETE_ALL_MARKS = 32790,
  ID_RESET = 32791,
  ID_UNDO = 32792,
  ID_REDO = 32793,
};

// What the status line shows when the view asks for it.
enum : int {
  keStatusToolHelp = 0,
  keStatusInstructions = 1,
};
