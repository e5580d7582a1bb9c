#include "HostOptions.h"

#include <getopt.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

enum keLongOption : int {
  keOptHelp = 'h',
  keOptVersion = 0x100,
  keOptList,
  keOptPlanesAsFile,
  keOptDemo,
  keOptPresets,
  keOptScript,
  keOptPlugins,
  keOptFormat,
  keOptFlatten,
  keOptMask,
  keOptStrip,
  keOptOutDir,
  keOptRecursive,
  keOptJobs,
  keOptSkipExisting,
  keOptThreads,
  keOptOverwrite,
  keOptMemoryShare,
};

constexpr option kLongOptions[] = {
    {"help", no_argument, nullptr, keOptHelp},
    {"version", no_argument, nullptr, keOptVersion},
    {"list", no_argument, nullptr, keOptList},
    {"planes-as-file", no_argument, nullptr, keOptPlanesAsFile},
    {"demo", no_argument, nullptr, keOptDemo},
    {"presets", no_argument, nullptr, keOptPresets},
    {"script", required_argument, nullptr, keOptScript},
    {"plugins", required_argument, nullptr, keOptPlugins},
    {"format", required_argument, nullptr, keOptFormat},
    {"flatten", required_argument, nullptr, keOptFlatten},
    {"mask", no_argument, nullptr, keOptMask},
    {"strip", no_argument, nullptr, keOptStrip},
    {"out-dir", required_argument, nullptr, keOptOutDir},
    {"recursive", no_argument, nullptr, keOptRecursive},
    {"jobs", required_argument, nullptr, keOptJobs},
    {"skip-existing", no_argument, nullptr, keOptSkipExisting},
    {"threads", required_argument, nullptr, keOptThreads},
    {"overwrite", no_argument, nullptr, keOptOverwrite},
    // Internal: a batch tells each picture's process the memory it may use.
    {"memory-share", required_argument, nullptr, keOptMemoryShare},
    {nullptr, 0, nullptr, 0},
};

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

// An option's value, which an empty word cannot be.
bool TakeValue(const std::string& value, const char* missing, std::string& into,
               std::string& error) {
  if (value.empty()) {
    error = missing;
    return false;
  }
  into = value;
  return true;
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

// The checks that need the whole command line.
bool CheckCombinations(CHostOptions& options, std::vector<std::string>& files,
                       std::string& error) {
  if (options.list && options.presets) {
    error = "--presets does not go with --list";
    return false;
  }
  if (options.list && !files.empty()) {
    error = "--list takes no files";
    return false;
  }
  const int modes = int(options.list) + int(options.demo) + int(!options.script.empty());
  if (modes > 1) {
    error = "--list, --demo and --script exclude each other";
    return false;
  }
  if (options.mask && options.flatten) {
    error = "--mask and --flatten exclude each other: the mask has no colours";
    return false;
  }
  if (options.overwrite && options.skipExisting) {
    error = "--overwrite and --skip-existing exclude each other: existing results are either "
            "replaced or kept";
    return false;
  }
  const bool batchOnly = options.recursive || options.jobs != 0 || options.skipExisting;
  if (batchOnly && !options.Batch()) {
    error = "--recursive, --jobs and --skip-existing go with --out-dir";
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

  // getopt keeps its place in globals: start afresh, and say nothing itself.
  optind = 0;
  opterr = 0;
  const int argc = static_cast<int>(storage.size());
  int code;
  while ((code = getopt_long(argc, argv.data(), ":h", kLongOptions, nullptr)) != -1) {
    const std::string value = optarg ? optarg : "";
    const std::string given = ArgumentInHand(argc, argv.data(), optind, code == '?' ? optopt : 0);
    switch (code) {
      case keOptHelp: options.help = true; break;
      case keOptVersion: options.version = true; break;
      case keOptList: options.list = true; break;
      case keOptPlanesAsFile: options.planesAsFile = true; break;
      case keOptDemo: options.demo = true; break;
      case keOptPresets: options.presets = true; break;
      case keOptMask: options.mask = true; break;
      case keOptStrip: options.strip = true; break;
      case keOptRecursive: options.recursive = true; break;
      case keOptSkipExisting: options.skipExisting = true; break;
      case keOptOverwrite: options.overwrite = true; break;
      case keOptScript:
        if (!TakeValue(value, "--script needs a script file", options.script, error)) return false;
        break;
      case keOptPlugins:
        if (!TakeValue(value, "--plugins needs a folder", options.pluginFolder, error)) return false;
        break;
      case keOptOutDir:
        if (!TakeValue(value, "--out-dir needs a folder", options.outDir, error)) return false;
        break;
      case keOptFormat: {
        std::string format = Lower(value);
        if (!format.empty() && format[0] == '.') format.erase(0, 1);
        if (format.empty()) {
          error = "--format needs an ending such as png, tif or webp";
          return false;
        }
        options.format = format;
        break;
      }
      case keOptFlatten:
        if (!ParseFlattenColour(value, options.flattenColour)) {
          error = "--flatten takes white, black or #RRGGBB, not '" + value + "'";
          return false;
        }
        options.flatten = true;
        break;
      case keOptJobs:
        if (!ParseCount(value.c_str(), options.jobs)) {
          error = "--jobs takes a number of pictures from 1 to 256, not '" + value + "'";
          return false;
        }
        break;
      case keOptThreads:
        if (!ParseCount(value.c_str(), options.threads)) {
          error = "--threads takes a number of threads from 1 to 256, not '" + value + "'";
          return false;
        }
        break;
      case keOptMemoryShare: {
        char* end = nullptr;
        errno = 0;
        const unsigned long long bytes = std::strtoull(value.c_str(), &end, 10);
        if (value.empty() || !std::isdigit(static_cast<unsigned char>(value[0])) || *end != '\0' ||
            errno != 0 || bytes == 0) {
          error = "--memory-share takes a number of bytes, not '" + value + "'";
          return false;
        }
        options.memoryShare = bytes;
        break;
      }
      case ':':
        error = given + " needs a value";
        return false;
      default:
        if (optopt == 0) {
          error = "unknown option '" + given + "'";
          return false;
        }
        // Most often a file whose name begins with '-'.
        error = "unknown option '-" + std::string(1, static_cast<char>(optopt)) + "' in '" +
                given + "'; a file whose name begins with '-' goes after --, as in " +
                "'kelvane -- " + given + "'";
        return false;
    }
  }
  if (options.help || options.version) return true;
  // getopt has moved the files behind the options, in their order, so
  // options may stand among the files as users type them.
  std::vector<std::string> files(argv.begin() + optind, argv.end() - 1);
  return CheckCombinations(options, files, error);
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
  return "usage: kelvane [OPTIONS] [INPUT [OUTPUT]]\n"
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
         "\n"
         "  --script FILE       replay the session script FILE instead of opening the\n"
         "                      editor (its commands are listed in the README)\n"
         "  --format EXT        the output format where no file name gives one:\n"
         "                      standard output, batches, the default name (png)\n"
         "  --flatten COLOUR    composite the cut-out over white, black or #RRGGBB\n"
         "                      and write no transparency\n"
         "  --mask              write the mask alone: 8-bit grey, 255 kept, 0 removed\n"
         "  --strip             write no EXIF or XMP (the colour profile stays)\n"
         "  --out-dir DIR       batch: write each INPUT's result to DIR/<name>.<EXT>;\n"
         "                      a folder among the inputs stands for its pictures\n"
         "  --recursive         batch: descend into folders, keeping their paths\n"
         "  --jobs N            batch: pictures worked on side by side (one per core)\n"
         "  --skip-existing     batch: skip pictures whose result is newer than them\n"
         "  --overwrite         replace an existing OUTPUT or batch result; without it\n"
         "                      an existing file is never replaced, and the run is\n"
         "                      refused before any work\n"
         "  --threads N         threads that read and write one picture (one per core;\n"
         "                      a batch gives each of its jobs a share of the cores)\n"
         "  --plugins DIR       look for filter modules in DIR only\n"
         "  --planes-as-file    hand the planes over as the file has them, without\n"
         "                      adding an opaque alpha plane\n"
         "  --presets           show the editor's preset row (styles kept in the Presets\n"
         "                      folder beside the filter module); a session script may\n"
         "                      then use preset, save-preset and delete-preset\n"
         "  --demo              replay a built-in session on the sample picture, with\n"
         "                      no display needed\n"
         "  --list              list the filters found: module, category, name\n"
         "  --version           show the versions of Kelvane and its libraries\n"
         "  -h, --help          show this text\n"
         "\n"
         "Exit status: 0 result written; 2 usage error, unreadable input,\n"
         "unwritable output or script error; 3 the filter ended without a result\n"
         "(Cancel, or the picture refused); 4 some pictures of a batch failed;\n"
         "1 anything else.\n";
}
