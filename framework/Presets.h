// Preset files: named parameter sets (styles) kept as small text files in
// the Presets folder beside the module, the current preset, and the rules of
// the "Save Style" dialog. Nothing here needs a display: the dialog, the
// shell's question and the list control are interfaces that a window and a
// session replay both implement.
#pragma once

#include <iosfwd>
#include <string>
#include <utility>
#include <vector>

class CParamSet;

// Every preset file name ends so; compared ignoring case when listing.
inline constexpr const char* kPresetEnding = ".preset";
inline constexpr size_t kPresetEndingLength = 7;

// The folder of the module file followed by "/Presets/". Not created here.
std::string GetPresetFolder();

// The current preset: one record for as long as the module stays loaded,
// across uses of the editor. The name always carries the ".preset" ending,
// the path is in full; both are empty when there is none.
class CPresetState {
 public:
  static CPresetState& Process();

  void Set(std::string name, std::string path) {
    m_name = std::move(name);
    m_path = std::move(path);
  }
  void Clear() {
    m_name.clear();
    m_path.clear();
  }

  std::string m_name;
  std::string m_path;
};

// Resets the flagged parameters to their defaults, then applies every
// "name value" line whose name is a parameter's (the last one wins). 0, or
// -1 (nothing changed) when the stream is already in a failed state.
int ParsePreset(std::istream& in, CParamSet& set);
// 0, or -1 when the file cannot be opened; the set is then unchanged.
int LoadPreset(const std::string& path, CParamSet& set);

// The file's bytes: WriteTo's text with CR LF line ends.
std::string PresetFileText(const CParamSet& set);
// Replaces `path` with the preset text through a temporary file in the same
// folder, so that no reader and no crash ever meets half a file. 0, or -2
// when the file could not be created (nothing is left behind).
int WritePresetFile(const CParamSet& set, const std::string& path);

// ---- "Save Style" -------------------------------------------------------

// A typed style name made into a preset file name: white space trimmed at
// both ends, ".preset" appended unless it ends with exactly that. Names that
// are not one plain file name inside the preset folder are refused.
struct CStyleFileName {
  bool ok = false;
  std::string fileName;  // when ok
  std::string refusal;   // when not: what to tell the user
};
CStyleFileName MakeStyleFileName(const std::string& typed);

// Whether `name` names one file inside a folder, never the folder itself,
// its parent or anything elsewhere.
bool IsPlainFileName(const std::string& name);

// The questions of the dialog's OK handler.
class IStyleQuestions {
 public:
  virtual ~IStyleQuestions() = default;
  // "File already exists.\nOverwrite?": true for Yes.
  virtual bool ConfirmOverwrite(const std::string& fileName) = 0;
  // The typed name was refused; the dialog stays open.
  virtual void ShowRefusal(const std::string& message) = 0;
};

// The questions as message boxes over `owner` (with no display, the default
// buttons: Yes).
class CMessageBoxStyleQuestions : public IStyleQuestions {
 public:
  explicit CMessageBoxStyleQuestions(void* owner = nullptr) : m_owner(owner) {}
  bool ConfirmOverwrite(const std::string& fileName) override;
  void ShowRefusal(const std::string& message) override;

 private:
  void* m_owner;
};

// The dialog's OK rule over one preset folder.
class CSaveStyleRules {
 public:
  explicit CSaveStyleRules(std::string folder) : m_folder(std::move(folder)) {}

  // The OK button with the edit field's text: true when the dialog closes,
  // and FileName() is then the file to write.
  bool OnOk(const std::string& typed, IStyleQuestions& questions);
  const std::string& FileName() const { return m_fileName; }
  const std::string& Folder() const { return m_folder; }

 private:
  std::string m_folder;
  std::string m_fileName;
};

// The modal "Save Style" dialog (template 102: "Style Name:", an edit field,
// OK, Cancel). Its OK button calls rules.OnOk with the field's text and
// closes the dialog only when that answers true.
class ISaveStyleDialog {
 public:
  virtual ~ISaveStyleDialog() = default;
  // True when the dialog closed with OK, false for Cancel.
  virtual bool DoModal(CSaveStyleRules& rules) = 0;
};

// Asks for the name, writes the file and makes it the current preset.
// 0 saved, -1 cancelled, -2 the file could not be created (for example the
// folder is missing; nothing is written and the current preset stays).
int SavePreset(const CParamSet& set, ISaveStyleDialog& dialog);
int SavePreset(const CParamSet& set, ISaveStyleDialog& dialog, const std::string& folder,
               CPresetState& state);

// ---- Deleting -----------------------------------------------------------

// The shell's own confirmation before it deletes a file.
class IDeleteQuestion {
 public:
  virtual ~IDeleteQuestion() = default;
  // True when the user agrees that `path` goes.
  virtual bool ConfirmDelete(const std::string& path, bool allowUndo) = 0;
};

class CMessageBoxDeleteQuestion : public IDeleteQuestion {
 public:
  explicit CMessageBoxDeleteQuestion(void* owner = nullptr) : m_owner(owner) {}
  bool ConfirmDelete(const std::string& path, bool allowUndo) override;

 private:
  void* m_owner;
};

// Deletes the current preset's file after the shell's question. 1 deleted
// (the current preset is cleared), 0 otherwise: no current preset, the user
// declined, or the file could not be deleted ("Can't delete preset" is shown
// over `owner`). The stand-in for the shell has no wastebasket, so a file
// goes for good whatever allowUndo says; the question says so.
int DeletePreset(bool allowUndo, IDeleteQuestion& question, void* owner = nullptr);
int DeletePreset(bool allowUndo, IDeleteQuestion& question, CPresetState& state,
                 void* owner = nullptr);

// ---- Listing ------------------------------------------------------------

// The entries of the preset list and its selection, as the list control
// shows them.
class CPresetList {
 public:
  void Clear() {
    m_entries.clear();
    m_selection = -1;
  }
  int Add(std::string text) {
    m_entries.push_back(std::move(text));
    return static_cast<int>(m_entries.size()) - 1;
  }
  int Count() const { return static_cast<int>(m_entries.size()); }
  const std::string& Text(int index) const { return m_entries.at(static_cast<size_t>(index)); }
  // The first entry equal to `text`, or -1.
  int Find(const std::string& text) const;
  // -1: no selection.
  int Selection() const { return m_selection; }
  void Select(int index) { m_selection = index >= 0 && index < Count() ? index : -1; }
  const std::vector<std::string>& Entries() const { return m_entries; }

 private:
  std::vector<std::string> m_entries;
  int m_selection = -1;
};

// The name of entry 0.
inline constexpr const char* kDefaultPresetEntry = "Default";

// "Default", then the names of the folder's files (not directories) whose
// name ends in ".preset" ignoring case, without that ending, in the order the
// folder gives them; selects the current preset's entry when it is there.
void ListPresets(CPresetList& list);
void ListPresets(CPresetList& list, const std::string& folder, const CPresetState& state);

// The file a list entry stands for: folder + entry + ".preset", or, where the
// file system tells letter cases apart and only a file with the ending in
// other letters exists, that file, so what is listed can be loaded. Empty
// for an entry that is no plain file name.
std::string PresetPathForEntry(const std::string& folder, const std::string& entry);
