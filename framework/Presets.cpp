#include "Presets.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "framework/Param.h"
#include "framework/ParamSet.h"
#include "platform/AtomicFile.h"
#include "platform/MessageBox.h"
#include "platform/WinApp.h"

namespace fs = std::filesystem;

namespace {

// The longest file name the file systems here take.
constexpr size_t kMaxFileName = 255;

bool IsTrimmedSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EndsWithPresetIgnoringCase(const std::string& name) {
  if (name.size() < kPresetEndingLength) return false;
  const size_t from = name.size() - kPresetEndingLength;
  for (size_t i = 0; i < kPresetEndingLength; ++i) {
    if (LowerAscii(name[from + i]) != kPresetEnding[i]) return false;
  }
  return true;
}

bool EndsWithPreset(const std::string& name) {
  return name.size() >= kPresetEndingLength &&
         name.compare(name.size() - kPresetEndingLength, kPresetEndingLength, kPresetEnding) == 0;
}

bool HasControlCharacter(const std::string& name) {
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return true;
  }
  return false;
}

std::string WithSlash(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string BoxCaption() {
  CWinApp* app = AfxGetApp();
  return app ? app->AppName() : std::string();
}

// Whether something (a file, a folder, even a dangling link) has this name.
bool NameTaken(const std::string& path) {
  std::error_code failed;
  return fs::symlink_status(path, failed).type() != fs::file_type::not_found && !failed;
}

// Read without umask(), which would change the mask for every thread while
// it is being looked at.
mode_t CurrentUmask() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("Umask:", 0) == 0) return static_cast<mode_t>(std::stoul(line.substr(6), nullptr, 8));
  }
  return 022;
}

// A new file gets what the user's mask allows, as any created file does; a
// replaced one keeps its own permissions.
mode_t ModeFor(const std::string& path) {
  struct stat existing {};
  if (::stat(path.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
    return existing.st_mode & 07777;
  }
  return 0666 & ~CurrentUmask();
}

}  // namespace

// ---- Folder and current preset ----------------------------------------------

std::string GetPresetFolder() {
  const std::string module = ModuleFileNameOf(reinterpret_cast<const void*>(&GetPresetFolder));
  const size_t slash = module.rfind('/');
  if (slash == std::string::npos) return "Presets/";
  return module.substr(0, slash) + "/Presets/";
}

CPresetState& CPresetState::Process() {
  static CPresetState state;
  return state;
}

// ---- Reading ----------------------------------------------------------------

int ParsePreset(std::istream& in, CParamSet& set) {
  if (!in) return -1;
  set.ResetToDefaults(true);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) continue;
    size_t keyEnd = line.find_first_of(": \t", start);
    if (keyEnd == std::string::npos) keyEnd = line.size();
    CParam* param = set.FindParamByName(line.substr(start, keyEnd - start));
    if (!param) continue;
    const size_t valueStart = line.find_first_not_of(" \t:", keyEnd);
    if (valueStart == std::string::npos) continue;
    const size_t valueEnd = line.find_last_not_of(" \t");
    param->ReadText(line.substr(valueStart, valueEnd - valueStart + 1));
  }
  return 0;
}

int LoadPreset(const std::string& path, CParamSet& set) {
  std::error_code failed;
  // A folder opens for reading here but holds no text.
  if (fs::is_directory(path, failed)) return -1;
  std::ifstream in(path, std::ios::binary);
  if (!in.is_open()) return -1;
  return ParsePreset(in, set);
}

// ---- Writing ----------------------------------------------------------------

std::string PresetFileText(const CParamSet& set) {
  std::ostringstream text;
  set.WriteTo(text);
  // The files are text files of the original platform: CR LF.
  std::string bytes;
  for (const char c : text.str()) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  return bytes;
}

int WritePresetFile(const CParamSet& set, const std::string& path) {
  constexpr int kCannotCreate = -2;
  const std::string bytes = PresetFileText(set);
  // A hidden name that does not end in ".preset": never listed, even if a
  // crash leaves it behind.
  return ReplaceFile(path, bytes, ModeFor(path), ".preset-XXXXXX") == 0 ? 0 : kCannotCreate;
}

// ---- "Save Style" -----------------------------------------------------------

bool IsPlainFileName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.size() <= kMaxFileName &&
         name.find('/') == std::string::npos && name.find('\\') == std::string::npos &&
         !HasControlCharacter(name);
}

CStyleFileName MakeStyleFileName(const std::string& typed) {
  CStyleFileName result;
  size_t first = 0;
  size_t last = typed.size();
  while (first < last && IsTrimmedSpace(typed[first])) ++first;
  while (last > first && IsTrimmedSpace(typed[last - 1])) --last;
  const std::string name = typed.substr(first, last - first);
  const std::string fileName = EndsWithPreset(name) ? name : name + kPresetEnding;
  const std::string stem = fileName.substr(0, fileName.size() - kPresetEndingLength);
  if (stem.empty()) {
    result.refusal = "Type a name for the style.";
  } else if (name.find('/') != std::string::npos || name.find('\\') != std::string::npos) {
    result.refusal = "A style name cannot contain \"/\" or \"\\\".";
  } else if (HasControlCharacter(name)) {
    result.refusal = "A style name cannot contain control characters.";
  } else if (stem == "." || stem == "..") {
    result.refusal = "\".\" and \"..\" are not style names.";
  } else if (!IsPlainFileName(fileName)) {
    result.refusal = "The style name is too long.";
  } else {
    result.ok = true;
    result.fileName = fileName;
  }
  return result;
}

bool CMessageBoxStyleQuestions::ConfirmOverwrite(const std::string&) {
  return MessageBox(m_owner, "File already exists.\nOverwrite?", BoxCaption(),
                    MB_YESNO | MB_ICONQUESTION) == IDYES;
}

void CMessageBoxStyleQuestions::ShowRefusal(const std::string& message) {
  MessageBox(m_owner, message, BoxCaption(), MB_OK | MB_ICONWARNING);
}

bool CSaveStyleRules::OnOk(const std::string& typed, IStyleQuestions& questions) {
  const CStyleFileName name = MakeStyleFileName(typed);
  if (!name.ok) {
    questions.ShowRefusal(name.refusal);
    return false;
  }
  if (NameTaken(WithSlash(m_folder) + name.fileName) && !questions.ConfirmOverwrite(name.fileName)) {
    return false;
  }
  m_fileName = name.fileName;
  return true;
}

int SavePreset(const CParamSet& set, ISaveStyleDialog& dialog) {
  return SavePreset(set, dialog, GetPresetFolder(), CPresetState::Process());
}

int SavePreset(const CParamSet& set, ISaveStyleDialog& dialog, const std::string& folder,
               CPresetState& state) {
  CSaveStyleRules rules(WithSlash(folder));
  if (!dialog.DoModal(rules)) return -1;
  // Whatever the dialog did, only a name its rules accepted is written.
  if (!IsPlainFileName(rules.FileName())) return -1;
  const std::string path = rules.Folder() + rules.FileName();
  if (WritePresetFile(set, path) != 0) return -2;
  state.Set(rules.FileName(), path);
  return 0;
}

// ---- Deleting ---------------------------------------------------------------

bool CMessageBoxDeleteQuestion::ConfirmDelete(const std::string& path, bool) {
  const std::string name = fs::path(path).filename().string();
  return MessageBox(m_owner, "Are you sure you want to permanently delete \"" + name + "\"?",
                    "Delete File", MB_YESNO | MB_ICONWARNING) == IDYES;
}

int DeletePreset(bool allowUndo, IDeleteQuestion& question, void* owner) {
  return DeletePreset(allowUndo, question, CPresetState::Process(), owner);
}

int DeletePreset(bool allowUndo, IDeleteQuestion& question, CPresetState& state, void* owner) {
  if (state.m_path.empty()) return 0;
  std::error_code failed;
  const fs::file_status status = fs::symlink_status(state.m_path, failed);
  // As the shell does, a file that is not there (or is a folder) fails
  // before any question.
  const bool deletable = !failed && status.type() != fs::file_type::not_found &&
                         status.type() != fs::file_type::directory;
  if (deletable) {
    if (!question.ConfirmDelete(state.m_path, allowUndo)) return 0;
    if (fs::remove(state.m_path, failed) && !failed) {
      state.Clear();
      return 1;
    }
  }
  MessageBox(owner, "Can't delete preset", BoxCaption(), MB_OK | MB_ICONERROR);
  return 0;
}

// ---- Listing ----------------------------------------------------------------

int CPresetList::Find(const std::string& text) const {
  for (int i = 0; i < Count(); ++i) {
    if (m_entries[static_cast<size_t>(i)] == text) return i;
  }
  return -1;
}

void ListPresets(CPresetList& list) { ListPresets(list, GetPresetFolder(), CPresetState::Process()); }

void ListPresets(CPresetList& list, const std::string& folder, const CPresetState& state) {
  std::vector<std::string> names;
  std::error_code failed;
  for (fs::directory_iterator it(WithSlash(folder), failed), end; !failed && it != end;
       it.increment(failed)) {
    const std::string name = it->path().filename().string();
    if (name == "." || name == "..") continue;
    std::error_code typeFailed;
    if (it->is_directory(typeFailed)) continue;
    if (!EndsWithPresetIgnoringCase(name)) continue;
    names.push_back(name.substr(0, name.size() - kPresetEndingLength));
  }
  list.Clear();
  list.Add(kDefaultPresetEntry);
  for (std::string& name : names) list.Add(std::move(name));
  if (state.m_name.size() >= kPresetEndingLength) {
    const std::string entry = state.m_name.substr(0, state.m_name.size() - kPresetEndingLength);
    // Entry 0 is no preset, even when a preset is called "Default" too.
    for (int i = 1; i < list.Count(); ++i) {
      if (list.Text(i) == entry) {
        list.Select(i);
        break;
      }
    }
  }
}

std::string PresetPathForEntry(const std::string& folder, const std::string& entry) {
  const std::string fileName = entry + kPresetEnding;
  if (!IsPlainFileName(fileName)) return {};
  const std::string base = WithSlash(folder);
  const std::string path = base + fileName;
  if (NameTaken(path)) return path;
  std::error_code failed;
  for (fs::directory_iterator it(base, failed), end; !failed && it != end; it.increment(failed)) {
    const std::string name = it->path().filename().string();
    std::error_code typeFailed;
    if (name.size() == fileName.size() && name.compare(0, entry.size(), entry) == 0 &&
        EndsWithPresetIgnoringCase(name) && !it->is_directory(typeFailed)) {
      return base + name;
    }
  }
  return path;
}
