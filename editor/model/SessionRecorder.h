// What the user does in the editor, written down as a session script that
// replays to the same pixels: the session tells the recorder each step as
// it happens, and the script is written whole when the editor closes.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "engine/MatteDocument.h"

class CSessionRecorder {
 public:
  // A picture of this size: whether points can be written in percent
  // depends on it.
  CSessionRecorder(int width, int height);

  // A step that undo goes back over begins (the editor's history took the
  // state before it).
  void StepBegun();

  // A marking stroke begins at a press, or goes on as the other kind at a
  // Ctrl switch; the replay presses again there, which is a step of its own
  // within the user's one.
  void StrokeBegun(bool object);
  // A pixel the stroke marked.
  void StrokeSample(CMarkPoint pixel);
  void StrokeEnded();

  // A stroke of the manual brush and the settings it was made with; each
  // dab by its centre pixel.
  void ManualBegun(bool recover, int brushSize, bool smoothBrush);
  void ManualDab(CMarkPoint centre);
  void ManualEnded();

  void CheckBoxClicked(int slot, bool checked);
  // Apply started a run with the parameter values `valueOf` gives by slot.
  void ApplyPressed(const std::function<int(int slot)>& valueOf);
  // A preset was chosen from the list: it is loaded and a run starts.
  void PresetChosen(const std::string& name);
  // The run of the last Apply or preset ended; `isStep` when undo can go back over it.
  void RunEnded(bool completed, bool isStep);
  // Delete All Marks or Reset (steps), a Display choice (no step).
  void DeleteAllMarks() { Write("delete-marks", true); }
  void Reset() { Write("reset", true); }
  void DisplayChosen(bool result) { Write(result ? "display result" : "display original", false); }
  void Undone();
  void Redone();
  // OK or Cancel closed the editor.
  void Ended(bool ok);

  // The script as it stands.
  std::string Text() const;
  // Writes the script to `path` whole or not at all, replacing a file there
  // only with `replace`. 0 or the errno of the step that failed.
  int Save(const std::string& path, bool replace) const;

 private:
  struct CLine {
    std::string words;
    std::vector<CMarkPoint> points;
    bool dropped = false;  // an Apply whose run did not complete
  };
  void Write(std::string words, bool isStep);
  void CloseStroke();
  bool PointsFitPercent() const;

  int m_width;
  int m_height;
  std::vector<CLine> m_lines;
  // How many replayed steps each of the user's steps takes, as undo and
  // redo see them: the newest last.
  std::vector<int> m_undoSteps;
  std::vector<int> m_redoSteps;
  int m_openStroke = -1;  // the line of the stroke being drawn, or -1
  int m_pendingApply = -1;
  std::vector<int> m_written;  // the value each field last had in the script, by slot
  int m_brushSize = 50;
  bool m_smoothBrush = false;
  bool m_usesPresets = false;
};
