#include "editor/model/SessionRecorder.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <limits>

#include "editor/model/SessionScript.h"
#include "engine/MatteParameters.h"
#include "platform/AtomicFile.h"

namespace {

// A dab's centre can lie far outside the picture; the script keeps it
// within what it reads, where it still misses the picture.
int ScriptBound(int value) {
  return std::clamp(value, -(kScriptCoordinateLimit - 1), kScriptCoordinateLimit - 1);
}

}  // namespace

CSessionRecorder::CSessionRecorder(int width, int height) : m_width(width), m_height(height) {
  int slots = 0;
  for (const CMatteParameter& row : kMatteParameters) slots = std::max(slots, row.slot + 1);
  m_written.assign(slots, 0);
  for (const CMatteParameter& row : kMatteParameters) m_written[row.slot] = row.defaultValue;
}

void CSessionRecorder::StepBegun() {
  m_undoSteps.push_back(0);
  m_redoSteps.clear();
}

void CSessionRecorder::Write(std::string words, bool isStep) {
  CloseStroke();
  m_lines.push_back({std::move(words), {}, false});
  if (isStep && !m_undoSteps.empty()) ++m_undoSteps.back();
}

void CSessionRecorder::StrokeBegun(bool object) {
  Write(object ? "object" : "background", true);
  m_openStroke = static_cast<int>(m_lines.size()) - 1;
}

void CSessionRecorder::StrokeSample(CMarkPoint pixel) {
  if (m_openStroke >= 0) m_lines[m_openStroke].points.push_back(pixel);
}

void CSessionRecorder::StrokeEnded() { CloseStroke(); }

void CSessionRecorder::CloseStroke() {
  if (m_openStroke < 0) return;
  // A drag back to an object stroke by releasing Ctrl records its first
  // point without marking it: nothing of it is written unless it went on.
  if (m_lines[m_openStroke].points.empty()) {
    m_lines.erase(m_lines.begin() + m_openStroke);
    if (!m_undoSteps.empty()) --m_undoSteps.back();
    if (m_pendingApply > m_openStroke) --m_pendingApply;
  }
  m_openStroke = -1;
}

void CSessionRecorder::ManualBegun(bool recover, int brushSize, bool smoothBrush) {
  if (brushSize != m_brushSize) {
    Write("brush " + std::to_string(brushSize), false);
    m_brushSize = brushSize;
  }
  if (smoothBrush != m_smoothBrush) {
    Write(smoothBrush ? "brush-smooth on" : "brush-smooth off", false);
    m_smoothBrush = smoothBrush;
  }
  StrokeBegun(false);
  m_lines[m_openStroke].words = recover ? "recover" : "erase";
}

void CSessionRecorder::ManualDab(CMarkPoint centre) {
  StrokeSample({ScriptBound(centre.x), ScriptBound(centre.y)});
}

void CSessionRecorder::ManualEnded() { CloseStroke(); }

void CSessionRecorder::CheckBoxClicked(int slot, bool checked) {
  const CMatteParameter* row = FindMatteParameter(slot);
  if (!row) return;
  Write(std::string("set ") + row->scriptWord + (checked ? " on" : " off"), false);
}

void CSessionRecorder::ApplyPressed(const std::function<int(int slot)>& valueOf) {
  // The fields as Apply read them; the check boxes were written as they
  // were clicked, since a click can change more than its value.
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.control != keControlField) continue;
    const int value = valueOf(row.slot);
    if (value == m_written[row.slot]) continue;
    Write(std::string("set ") + row.scriptWord + " " + std::to_string(value), false);
    m_written[row.slot] = value;
  }
  Write("apply", false);
  m_pendingApply = static_cast<int>(m_lines.size()) - 1;
}

void CSessionRecorder::PresetChosen(const std::string& name) {
  Write("preset " + name, false);
  m_pendingApply = static_cast<int>(m_lines.size()) - 1;
  m_usesPresets = true;
  // The fields may now show the preset's values, which the script does not
  // know: the next Apply writes every one of them.
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.control == keControlField) m_written[row.slot] = std::numeric_limits<int>::min();
  }
}

void CSessionRecorder::RunEnded(bool completed, bool isStep) {
  if (m_pendingApply < 0) return;
  // A run that was aborted or failed changed nothing; the replay's Apply
  // always waits for its run to complete, so it is not written.
  if (!completed) m_lines[m_pendingApply].dropped = true;
  m_pendingApply = -1;
  if (completed && isStep) {
    StepBegun();
    ++m_undoSteps.back();
  }
}

void CSessionRecorder::Undone() {
  CloseStroke();
  if (m_undoSteps.empty()) return;
  const int steps = m_undoSteps.back();
  m_undoSteps.pop_back();
  m_redoSteps.push_back(steps);
  for (int i = 0; i < steps; ++i) m_lines.push_back({"undo", {}, false});
}

void CSessionRecorder::Redone() {
  CloseStroke();
  if (m_redoSteps.empty()) return;
  const int steps = m_redoSteps.back();
  m_redoSteps.pop_back();
  m_undoSteps.push_back(steps);
  for (int i = 0; i < steps; ++i) m_lines.push_back({"redo", {}, false});
}

void CSessionRecorder::Ended(bool ok) { Write(ok ? "ok" : "cancel", false); }

bool CSessionRecorder::PointsFitPercent() const {
  int unused = 0;
  for (const CLine& line : m_lines) {
    if (line.dropped) continue;
    for (const CMarkPoint& point : line.points) {
      if (!PixelAsPercent(point.x, m_width, unused) || !PixelAsPercent(point.y, m_height, unused)) {
        return false;
      }
    }
  }
  return true;
}

std::string CSessionRecorder::Text() const {
  const bool percent = PointsFitPercent();
  const std::string size = std::to_string(m_width) + " x " + std::to_string(m_height);
  std::string text = "# A session of the editor on a " + size + " picture.\n";
  text += percent ? "# Points are in percent of the picture's width and height, so the script "
                    "fits a picture of any size.\n"
                  : "# Points are in pixels of the " + size +
                        " picture: not every one of them has a percentage that comes back "
                        "to it exactly.\n";
  if (m_usesPresets) text += "# Chooses presets: replay it with --presets.\n";
  for (const CLine& line : m_lines) {
    if (line.dropped) continue;
    text += line.words;
    for (const CMarkPoint& point : line.points) {
      int x = point.x;
      int y = point.y;
      if (percent) {
        PixelAsPercent(point.x, m_width, x);
        PixelAsPercent(point.y, m_height, y);
      }
      text += " " + ScriptCoordinateText(x, percent) + "," + ScriptCoordinateText(y, percent);
    }
    text += "\n";
  }
  return text;
}

int CSessionRecorder::Save(const std::string& path, bool replace) const {
  CAtomicFile file;
  if (const int error = file.Open(path, 0666)) return error;
  if (!WriteAll(file.Descriptor(), Text())) return errno ? errno : EIO;
  return file.Commit(replace);
}
