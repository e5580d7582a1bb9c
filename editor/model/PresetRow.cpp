#include "editor/model/PresetRow.h"

#include <utility>

#include "editor/model/EditorSession.h"
#include "editor/model/SessionRecorder.h"
#include "engine/MatteFilter.h"
#include "platform/MessageBox.h"
#include "platform/WinApp.h"

CPresetRow::CPresetRow(CEditorSession& session)
    : CPresetRow(session, GetPresetFolder(), CPresetState::Process()) {}

CPresetRow::CPresetRow(CEditorSession& session, std::string folder, CPresetState& state)
    : m_session(session), m_folder(std::move(folder)), m_state(state) {
  if (!m_folder.empty() && m_folder.back() != '/') m_folder += '/';
}

namespace {

void Tell(void* owner, const char* text) {
  CWinApp* app = AfxGetApp();
  MessageBox(owner, text, app ? app->AppName() : std::string(), MB_OK);
}

}  // namespace

void CPresetRow::Changed() {
  if (m_listener) m_listener->PresetListChanged();
}

void CPresetRow::Fill() {
  ListPresets(m_list, m_folder, m_state);
  Changed();
}

kePresetChoice CPresetRow::Choose(int index) {
  if (index < 0 || index >= m_list.Count()) return kePresetNothing;
  m_list.Select(index);
  CParamSet& set = m_session.Filter().m_paramSet;
  if (index == 0) {
    set.ResetToDefaults(true);
    m_state.Clear();
  } else {
    const std::string& entry = m_list.Text(index);
    // Only a plain name inside the folder is ever opened.
    const std::string path = PresetPathForEntry(m_folder, entry);
    if (path.empty() || LoadPreset(path, set) != 0) {
      Tell(m_owner, "Can't load the selected preset");
      Fill();
      return kePresetLoadFailed;
    }
    m_state.Set(entry + kPresetEnding, path);
  }
  if (m_listener) m_listener->OnPresetLoaded();
  if (CSessionRecorder* recorder = m_session.Recorder()) {
    recorder->PresetChosen(index == 0 ? "Default" : m_list.Text(index));
  }
  m_session.RequestRun();
  return kePresetLoaded;
}

int CPresetRow::Save(ISaveStyleDialog& dialog) {
  const int saved = SavePreset(m_session.Filter().m_paramSet, dialog, m_folder, m_state);
  // The user pressed OK on a name and must not believe the style is kept.
  if (saved == -2) Tell(m_owner, "Can't save preset");
  Fill();
  return saved;
}

int CPresetRow::Delete(IDeleteQuestion& question) {
  const int deleted = DeletePreset(false, question, m_state, m_owner);
  Fill();
  return deleted;
}
