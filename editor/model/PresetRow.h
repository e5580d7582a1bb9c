// The editor's preset row without a display: the list of presets with its
// selection, choosing an entry (which loads it and starts a run at once),
// the save and the delete button. The combo box and the two buttons of the
// window, and the session replay, drive the same calls and show List().
#pragma once

#include <string>

#include "framework/Presets.h"

class CEditorSession;

// What the row asks of the window around it.
class IPresetRowListener {
 public:
  virtual ~IPresetRowListener() = default;
  // The list was filled again: entries and selection may have changed.
  virtual void PresetListChanged() {}
  // The panel's hook after a preset was chosen; this panel does nothing, so
  // its fields keep the values they show.
  virtual void OnPresetLoaded() {}
};

enum kePresetChoice : int {
  kePresetNothing,     // no entry selected: nothing happened
  kePresetLoaded,      // loaded (or Default), current preset set, a run started
  kePresetLoadFailed,  // "Can't load the selected preset" shown, list filled again
};

class CPresetRow {
 public:
  // The row of the process's current preset and the module's preset folder.
  explicit CPresetRow(CEditorSession& session);
  // Another folder and record (tests, a replay told where presets lie).
  CPresetRow(CEditorSession& session, std::string folder, CPresetState& state);

  void SetListener(IPresetRowListener* listener) { m_listener = listener; }
  // The window message boxes are shown over; null with no window.
  void SetOwner(void* owner) { m_owner = owner; }

  // Filling the list: at the editor's opening when the row is shown, and
  // after every save, delete and failed load.
  void Fill();
  const CPresetList& List() const { return m_list; }

  // A selection change of the list to `index` (-1: none selected).
  kePresetChoice Choose(int index);
  // The save button: SavePreset's answer (0 saved, -1 cancelled, -2 not
  // written, and "Can't save preset" shown); the list is filled again in
  // every case.
  int Save(ISaveStyleDialog& dialog);
  // The delete button: 1 when the current preset was deleted, 0 otherwise;
  // the list is filled again in every case.
  int Delete(IDeleteQuestion& question);

  const std::string& Folder() const { return m_folder; }
  const CPresetState& State() const { return m_state; }

 private:
  void Changed();

  CEditorSession& m_session;
  std::string m_folder;
  CPresetState& m_state;
  CPresetList m_list;
  IPresetRowListener* m_listener = nullptr;
  void* m_owner = nullptr;
};
