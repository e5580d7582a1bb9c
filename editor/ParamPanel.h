// The parameter panel at the right of the editor window: the filter's
// parameters in numeric fields and check boxes, Apply/Abort and Default,
// the brush settings and the Display and Show Mat lists. What each control
// does, and when it is enabled, is the editor session's; the panel relays
// the user's actions to it and shows its state.
#pragma once

#include <array>

#include "editor/model/EditorSession.h"
#include "framework/dialogs/Dialog.h"

class CEditNum;
class QListWidget;

enum : int {
  kPanelTemplateId = 3017,
  IDC_STRENGTH = 3018,
  IDC_CONTRACT = 3020,
  IDC_FEATHERING = 3026,
  IDC_FEATHERING_LABEL = 3027,
  IDC_SMOOTHING = 3028,
  IDC_SMOOTHING_LABEL = 3030,
  IDC_FILL_HOLES = 3022,
  IDC_TEXTURED = 3023,
  IDC_REFINE_EDGE = 3035,
  IDC_EDGE_WIDTH = 3036,
  IDC_EDGE_WIDTH_LABEL = 3037,
  IDC_COLOUR_MODEL = 3038,
  IDC_DEFAULT = 3007,
  IDC_APPLY = 3006,
  IDC_BRUSH_SIZE_LABEL = 3032,
  IDC_BRUSH_SIZE = 3033,
  IDC_SMOOTH_BRUSH = 3034,
  IDC_DISPLAY_LABEL = 3025,
  IDC_DISPLAY = 3024,
  IDC_SHOW_MAT_LABEL = 3031,
  IDC_SHOW_MAT = 3029,
};

// The control that shows the parameter in `slot`: its numeric field or check
// box in the panel's template; -1 for a slot without one.
int ParameterControlId(int slot);

class CParamPanel : public CDialog {
 public:
  CParamPanel();
  ~CParamPanel() override;

  // Set before Create; the session outlives the panel.
  void SetSession(CEditorSession* session) { m_session = session; }
  // Shows the session's state in every control (texts, checks, enabling,
  // list selections, the Apply label).
  void Reflect();

  CEditNum* Field(keField field) const { return m_fields[field]; }
  QListWidget* DisplayList() const;
  QListWidget* ShowMatList() const;

  void OnProcessingFinished();
  void OnProcessingAborted();
  // Moves the keyboard focus to Strength (after Default).
  void FocusStrength();

 protected:
  bool OnInitDialog() override;
  void OnCommand(int id) override;
  // The panel is a child: Escape goes on to the editor window, and Enter
  // closes nothing.
  void OnCancel() override {}
  void OnOK() override {}

 private:
  void OnFieldNotice(keField field, int code);
  void ShowField(keField field);

  CEditorSession* m_session = nullptr;
  std::array<CEditNum*, keFieldCount> m_fields{};
  bool m_reflecting = false;
};
