#include "HostOptions.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <bitset>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string_view>

namespace fs = std::filesystem;

namespace {

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The ending of a file name, lower case and without the dot; empty for none.
std::string EndingOf(const std::string& path) {
  const std::string extension = fs::path(path).extension().string();
  return extension.size() > 1 ? Lower(extension.substr(1)) : std::string();
}

// A count from 1 to 256: pictures side by side, or threads.
bool ParseCount(const char* text, int& count) {
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || value < 1 || value > 256) return false;
  count = static_cast<int>(value);
  return true;
}

// The word getopt was reading when it stopped. Inside a cluster of short
// options ("-x.jpg") its index has not moved on yet; after a long option, or
// the last letter of a cluster, the word is the one before the index.
std::string ArgumentInHand(int argc, char* const* argv, int index, int shortOption) {
  if (shortOption != 0 && index < argc && argv[index][0] == '-' &&
      std::strchr(argv[index] + 1, shortOption)) {
    return argv[index];
  }
  return index > 0 && index <= argc ? argv[index - 1] : "";
}

// A switch: on when given.
template <bool CHostOptions::*Member>
bool TakeSwitch(CHostOptions& options, const std::string&, std::string&) {
  options.*Member = true;
  return true;
}

template <bool CHostOptions::*Member>
void PassSwitch(const CHostOptions& options, std::vector<std::string>& arguments,
                const char* name) {
  if (options.*Member) arguments.push_back(std::string("--") + name);
}

// A word an empty value cannot be.
template <std::string CHostOptions::*Member>
bool TakeWord(CHostOptions& options, const std::string& value, std::string& error) {
  if (value.empty()) return false;
  options.*Member = value;
  (void)error;
  return true;
}

template <std::string CHostOptions::*Member>
void PassWord(const CHostOptions& options, std::vector<std::string>& arguments,
              const char* name) {
  if ((options.*Member).empty()) return;
  arguments.push_back(std::string("--") + name);
  arguments.push_back(options.*Member);
}

// A count from 1 to 256: pictures side by side, or threads.
template <int CHostOptions::*Member>
bool TakeCount(CHostOptions& options, const std::string& value, std::string&) {
  return ParseCount(value.c_str(), options.*Member);
}

template <int CHostOptions::*Member>
void PassCount(const CHostOptions& options, std::vector<std::string>& arguments,
               const char* name) {
  if (options.*Member == 0) return;
  arguments.push_back(std::string("--") + name);
  arguments.push_back(std::to_string(options.*Member));
}

bool TakeFormat(CHostOptions& options, const std::string& value, std::string&) {
  std::string format = Lower(value);
  if (!format.empty() && format[0] == '.') format.erase(0, 1);
  if (format.empty()) return false;
  options.format = format;
  return true;
}

bool TakeFlatten(CHostOptions& options, const std::string& value, std::string&) {
  options.flatten = ParseFlattenColour(value, options.flattenColour);
  return options.flatten;
}

void PassFlatten(const CHostOptions& options, std::vector<std::string>& arguments, const char*) {
  if (!options.flatten) return;
  char colour[8];
  std::snprintf(colour, sizeof colour, "#%02X%02X%02X", options.flattenColour.red,
                options.flattenColour.green, options.flattenColour.blue);
  arguments.push_back("--flatten");
  arguments.push_back(colour);
}

bool TakeMemoryShare(CHostOptions& options, const std::string& value, std::string&) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long bytes = std::strtoull(value.c_str(), &end, 10);
  if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0])) || *end != '\0' ||
      errno != 0 || bytes == 0) {
    return false;
  }
  options.memoryShare = bytes;
  return true;
}

void PassMemoryShare(const CHostOptions& options, std::vector<std::string>& arguments,
                     const char*) {
  if (options.memoryShare == 0) return;
  arguments.push_back("--memory-share");
  arguments.push_back(std::to_string(options.memoryShare));
}

// A result older than its picture is done again over the old one, so a
// picture's process may replace its result whenever the batch may.
void PassOverwrite(const CHostOptions& options, std::vector<std::string>& arguments,
                   const char*) {
  if (options.overwrite || options.skipExisting) arguments.push_back("--overwrite");
}

enum keOptionUse : uint8_t {
  keUseAlways,
  keUseBatch,     // only with --out-dir
  keUseInternal,  // between a batch and its pictures' processes; not listed
};

// Every option once: parsing, the usage text, the checks of where it may
// stand, and what a batch hands each picture's process all come from here.
struct CHostOption {
  const char* name;
  char letter;          // a short form, or 0
  const char* value;    // the value's name in the usage; nullptr for a switch
  const char* usage;    // its lines in the usage text, one '\n' between lines
  keOptionUse use;
  // Stores the value; false for one it cannot take, `refusal` says why.
  bool (*take)(CHostOptions& options, const std::string& value, std::string& error);
  const char* refusal;  // "--jobs takes ..." value "'"; nullptr: `needs`
  // What a batch hands each picture's process; nullptr: nothing.
  void (*pass)(const CHostOptions& options, std::vector<std::string>& arguments,
               const char* name);
};

constexpr CHostOption kHostOptions[] = {
    {"script", 0, "FILE",
     "replay the session script FILE instead of opening the\n"
     "editor (its commands are listed in the README)",
     keUseAlways, TakeWord<&CHostOptions::script>, "--script needs a script file",
     PassWord<&CHostOptions::script>},
    {"record", 0, "FILE",
     "write what is done in the editor to FILE as a session\n"
     "script, which --script replays on other pictures\n"
     "(FILE is replaced only with --overwrite)",
     keUseAlways, TakeWord<&CHostOptions::record>, "--record needs a file", nullptr},
    {"format", 0, "EXT",
     "the output format where no file name gives one:\n"
     "standard output, batches, the default name (png)",
     keUseAlways, TakeFormat, "--format needs an ending such as png, tif or webp", nullptr},
    {"flatten", 0, "COLOUR",
     "composite the cut-out over white, black or #RRGGBB\n"
     "and write no transparency",
     keUseAlways, TakeFlatten, "--flatten takes white, black or #RRGGBB", PassFlatten},
    {"mask", 0, nullptr, "write the mask alone: 8-bit grey, 255 kept, 0 removed", keUseAlways,
     TakeSwitch<&CHostOptions::mask>, nullptr, PassSwitch<&CHostOptions::mask>},
    {"strip", 0, nullptr, "write no EXIF or XMP (the colour profile and the\n"
     "resolution stay)",
     keUseAlways, TakeSwitch<&CHostOptions::strip>, nullptr, PassSwitch<&CHostOptions::strip>},
    {"out-dir", 0, "DIR",
     "batch: write each INPUT's result to DIR/<name>.<EXT>;\n"
     "a folder among the inputs stands for its pictures",
     keUseAlways, TakeWord<&CHostOptions::outDir>, "--out-dir needs a folder", nullptr},
    {"recursive", 0, nullptr, "batch: descend into folders, keeping their paths", keUseBatch,
     TakeSwitch<&CHostOptions::recursive>, nullptr, nullptr},
    {"jobs", 0, "N", "batch: pictures worked on side by side (one per core)", keUseBatch,
     TakeCount<&CHostOptions::jobs>, "--jobs takes a number of pictures from 1 to 256",
     nullptr},
    {"skip-existing", 0, nullptr, "batch: skip pictures whose result is newer than them",
     keUseBatch, TakeSwitch<&CHostOptions::skipExisting>, nullptr, nullptr},
    {"overwrite", 0, nullptr,
     "replace an existing OUTPUT or batch result; without it\n"
     "an existing file is never replaced, and the run is\n"
     "refused before any work",
     keUseAlways, TakeSwitch<&CHostOptions::overwrite>, nullptr, PassOverwrite},
    {"threads", 0, "N",
     "threads that read and write one picture (one per core;\n"
     "a batch gives each of its jobs a share of the cores)",
     keUseAlways, TakeCount<&CHostOptions::threads>,
     "--threads takes a number of threads from 1 to 256", PassCount<&CHostOptions::threads>},
    {"plugins", 0, "DIR", "look for filter modules in DIR only", keUseAlways,
     TakeWord<&CHostOptions::pluginFolder>, "--plugins needs a folder",
     PassWord<&CHostOptions::pluginFolder>},
    {"planes-as-file", 0, nullptr,
     "hand the planes over as the file has them, without\n"
     "adding an opaque alpha plane",
     keUseAlways, TakeSwitch<&CHostOptions::planesAsFile>, nullptr,
     PassSwitch<&CHostOptions::planesAsFile>},
    {"presets", 0, nullptr,
     "show the editor's preset row (styles kept in the Presets\n"
     "folder beside the filter module); a session script may\n"
     "then use preset, save-preset and delete-preset",
     keUseAlways, TakeSwitch<&CHostOptions::presets>, nullptr, PassSwitch<&CHostOptions::presets>},
    {"demo", 0, nullptr,
     "replay a built-in session on the sample picture, with\n"
     "no display needed",
     keUseAlways, TakeSwitch<&CHostOptions::demo>, nullptr, nullptr},
    {"list", 0, nullptr, "list the filters found: module, category, name", keUseAlways,
     TakeSwitch<&CHostOptions::list>, nullptr, nullptr},
    {"version", 0, nullptr, "show the versions of Kelvane and its libraries", keUseAlways,
     TakeSwitch<&CHostOptions::version>, nullptr, nullptr},
    {"help", 'h', nullptr, "show this text", keUseAlways, TakeSwitch<&CHostOptions::help>, nullptr,
     nullptr},
    {"memory-share", 0, "BYTES", nullptr, keUseInternal, TakeMemoryShare,
     "--memory-share takes a number of bytes", PassMemoryShare},
};

constexpr size_t kOptionCount = std::size(kHostOptions);
using CGivenOptions = std::bitset<kOptionCount>;

const CHostOption& OptionNamed(const char* name) {
  for (const CHostOption& option : kHostOptions) {
    if (std::strcmp(option.name, name) == 0) return option;
  }
  std::abort();  // a name spelled wrong in this file
}

// "--a, --b and --c"
std::string ListOfOptions(const std::vector<std::string>& names) {
  std::string list;
  for (size_t i = 0; i < names.size(); ++i) {
    list += std::string(i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + "--" + names[i];
  }
  return list;
}

// Options that exclude each other, and why: any two of a group, or, where
// the first stands alone, the first with any of the others.
struct CExclusion {
  std::vector<std::string> names;
  bool firstAgainstOthers;
  const char* reason;  // after "--a and --b exclude each other"; may be empty
};

const std::vector<CExclusion>& Exclusions() {
  static const std::vector<CExclusion> exclusions = {
      {{"list", "demo", "script"}, false, ""},
      {{"record", "list", "demo", "script", "out-dir"}, true,
       ": --record writes down a session in the editor"},
      {{"list", "presets"}, false, ": the list opens no editor"},
      {{"mask", "flatten"}, false, ": the mask has no colours"},
      {{"overwrite", "skip-existing"}, false, ": existing results are either replaced or kept"},
  };
  return exclusions;
}

bool CheckExclusions(const CGivenOptions& given, std::string& error) {
  auto isGiven = [&given](const std::string& name) {
    return given[static_cast<size_t>(&OptionNamed(name.c_str()) - kHostOptions)];
  };
  for (const CExclusion& exclusion : Exclusions()) {
    std::vector<std::string> clash;
    for (const std::string& name : exclusion.names) {
      if (isGiven(name)) clash.push_back(name);
    }
    const bool clashes = exclusion.firstAgainstOthers
                             ? isGiven(exclusion.names[0]) && clash.size() > 1
                             : clash.size() > 1;
    if (clashes) {
      error = ListOfOptions(exclusion.firstAgainstOthers ? clash : exclusion.names) +
              " exclude each other" + exclusion.reason;
      return false;
    }
  }
  return true;
}

bool CheckBatchOnly(const CHostOptions& options, const CGivenOptions& given, std::string& error) {
  if (options.Batch()) return true;
  std::vector<std::string> batchOnly;
  bool any = false;
  for (size_t i = 0; i < kOptionCount; ++i) {
    if (kHostOptions[i].use != keUseBatch) continue;
    batchOnly.push_back(kHostOptions[i].name);
    any = any || given[i];
  }
  if (!any) return true;
  error = ListOfOptions(batchOnly) + " go with --out-dir";
  return false;
}

// The checks that need the whole command line.
bool CheckCombinations(CHostOptions& options, const CGivenOptions& given,
                       std::vector<std::string>& files, std::string& error) {
  if (!CheckExclusions(given, error) || !CheckBatchOnly(options, given, error)) return false;
  if (options.list && !files.empty()) {
    error = "--list takes no files";
    return false;
  }
  for (const std::string& file : files) {
    if (file.empty()) {
      error = "'' is not a file name";
      return false;
    }
  }
  if (options.Batch()) {
    if (options.script.empty()) {
      error = "--out-dir needs --script: a batch replays one session on every picture";
      return false;
    }
    if (files.empty()) {
      error = "--out-dir needs at least one INPUT";
      return false;
    }
    for (const std::string& file : files) {
      if (file == kStandardStream) {
        error = "a batch reads files, not standard input";
        return false;
      }
    }
    options.inputs = files;
    return true;
  }
  if (options.demo && files.size() > 1) {
    error = "--demo takes at most OUTPUT";
    return false;
  }
  if (!options.script.empty() && files.empty()) {
    error = "--script needs INPUT";
    return false;
  }
  if (files.size() > 2) {
    error = "too many files: at most INPUT and OUTPUT (--out-dir takes many)";
    return false;
  }
  if (options.demo) {
    if (!files.empty()) options.output = files[0];
  } else {
    if (!files.empty()) options.input = files[0];
    if (files.size() == 2) options.output = files[1];
  }
  if (options.input == kStandardStream && options.script.empty()) {
    error = "standard input goes with --script: the editor needs the terminal";
    return false;
  }
  // A file is always written in the format its name says.
  if (!options.output.empty() && options.output != kStandardStream && !options.format.empty() &&
      EndingOf(options.output) != options.format) {
    error = "--format " + options.format + " does not match the ending of '" + options.output +
            "'";
    return false;
  }
  return true;
}

}  // namespace

bool ParseFlattenColour(const std::string& text, CFlattenColour& colour) {
  const std::string name = Lower(text);
  if (name == "white") {
    colour = CFlattenColour{255, 255, 255};
    return true;
  }
  if (name == "black") {
    colour = CFlattenColour{0, 0, 0};
    return true;
  }
  if (name.size() != 7 || name[0] != '#' ||
      !std::all_of(name.begin() + 1, name.end(), [](unsigned char c) { return std::isxdigit(c); })) {
    return false;
  }
  const unsigned long value = std::strtoul(name.c_str() + 1, nullptr, 16);
  colour = CFlattenColour{static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 8),
                          static_cast<uint8_t>(value)};
  return true;
}

bool ParseHostOptions(const std::vector<std::string>& arguments, CHostOptions& options,
                      std::string& error) {
  options = CHostOptions();
  std::vector<std::string> storage;
  storage.reserve(arguments.size() + 1);
  storage.push_back("kelvane");
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& argument : storage) argv.push_back(argument.data());
  argv.push_back(nullptr);

  std::vector<option> longOptions;
  for (const CHostOption& entry : kHostOptions) {
    longOptions.push_back(
        option{entry.name, entry.value ? required_argument : no_argument, nullptr, 0});
  }
  longOptions.push_back(option{nullptr, 0, nullptr, 0});
  std::string shortOptions = ":";
  for (const CHostOption& entry : kHostOptions) {
    if (entry.letter) shortOptions += entry.letter;
  }

  // getopt keeps its place in globals: start afresh, and say nothing itself.
  optind = 0;
  opterr = 0;
  const int argc = static_cast<int>(storage.size());
  CGivenOptions given;
  int code;
  int index = -1;
  while ((code = getopt_long(argc, argv.data(), shortOptions.c_str(), longOptions.data(),
                             &index)) != -1) {
    const std::string value = optarg ? optarg : "";
    const std::string typed = ArgumentInHand(argc, argv.data(), optind, code == '?' ? optopt : 0);
    if (code == ':') {
      error = typed + " needs a value";
      return false;
    }
    if (code == '?') {
      if (optopt == 0) {
        error = "unknown option '" + typed + "'";
        return false;
      }
      // Most often a file whose name begins with '-'.
      error = "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "' in '" + typed +
              "'; a file whose name begins with '-' goes after --, as in 'kelvane -- " + typed +
              "'";
      return false;
    }
    if (code != 0) {
      for (size_t i = 0; i < kOptionCount; ++i) {
        if (kHostOptions[i].letter == code) index = static_cast<int>(i);
      }
    }
    const CHostOption& entry = kHostOptions[index];
    if (!entry.take(options, value, error)) {
      error = std::string(entry.refusal) + (value.empty() ? "" : ", not '" + value + "'");
      return false;
    }
    given.set(static_cast<size_t>(index));
    index = -1;
  }
  if (options.help || options.version) return true;
  // getopt has moved the files behind the options, in their order, so
  // options may stand among the files as users type them.
  std::vector<std::string> files(argv.begin() + optind, argv.end() - 1);
  return CheckCombinations(options, given, files, error);
}

std::string OutputFormatOf(const CHostOptions& options, const std::string& output) {
  // A named file is written in the format its name says, or not at all.
  if (!output.empty() && output != kStandardStream) return EndingOf(output);
  return options.format.empty() ? "png" : options.format;
}

std::string DefaultOutputPath(const CHostOptions& options) {
  if (options.input == kStandardStream) return kStandardStream;
  const std::string format = options.format.empty() ? "png" : options.format;
  const char* kind = options.mask ? ".mask." : ".kelvane.";
  if (options.input.empty()) return std::string("sample") + kind + format;
  const fs::path input(options.input);
  return (input.parent_path() / (input.stem().string() + kind + format)).string();
}

std::string HostUsage() {
  std::string usage =
      "usage: kelvane [OPTIONS] [INPUT [OUTPUT]]\n"
      "       kelvane [OPTIONS] --script FILE INPUT [OUTPUT]\n"
      "       kelvane [OPTIONS] --script FILE --out-dir DIR INPUT...\n"
      "       kelvane [--plugins DIR] --demo [OUTPUT]\n"
      "       kelvane [--plugins DIR] --list\n"
      "       kelvane --help | --version\n"
      "\n"
      "Removes the background of the picture INPUT (JPEG, PNG, TIFF, WebP, HEIF/AVIF,\n"
      "GIF, JPEG XL or PNM, told by its content; without INPUT, a built-in sample)\n"
      "in the Kelvane editor, and writes the cut-out to OUTPUT in the format its\n"
      "ending names: .png, .tif/.tiff, .webp (lossless), .avif, .heic, .jxl; .jpg and\n"
      ".jpeg only with --flatten or --mask. Without OUTPUT the result goes beside\n"
      "the input as <input name>.kelvane.png. '-' as INPUT reads standard input,\n"
      "'-' as OUTPUT writes standard output. An OUTPUT that exists already is\n"
      "refused unless --overwrite is given, and the INPUT file itself always is.\n"
      "\n";
  constexpr size_t kTextColumn = 22;
  for (const CHostOption& option : kHostOptions) {
    if (option.use == keUseInternal) continue;
    std::string head = "  ";
    if (option.letter) head += std::string("-") + option.letter + ", ";
    head += std::string("--") + option.name;
    if (option.value) head += std::string(" ") + option.value;
    head.append(head.size() < kTextColumn ? kTextColumn - head.size() : 1, ' ');
    const std::string_view text(option.usage);
    size_t start = 0;
    while (start <= text.size()) {
      const size_t end = std::min(text.find('\n', start), text.size());
      usage += (start == 0 ? head : std::string(kTextColumn, ' '));
      usage.append(text.substr(start, end - start));
      usage += '\n';
      start = end + 1;
    }
  }
  usage +=
      "\n"
      "Exit status: 0 result written; 2 usage error, unreadable input,\n"
      "unwritable output or script error; 3 the filter ended without a result\n"
      "(Cancel, or the picture refused); 4 some pictures of a batch failed;\n"
      "1 anything else.\n";
  return usage;
}

std::vector<std::string> ArgumentsForEachPicture(const CHostOptions& options) {
  std::vector<std::string> arguments;
  for (const CHostOption& option : kHostOptions) {
    if (option.pass) option.pass(options, arguments, option.name);
  }
  return arguments;
}
