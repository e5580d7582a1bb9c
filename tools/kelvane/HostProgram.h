// The command line of the host program.
#pragma once

#include <string>
#include <vector>

enum : int {
  keExitWritten = 0,    // the result was written
  keExitFailure = 1,    // anything else
  keExitUsage = 2,      // a usage error, an unreadable input, an unwritable output
                        // or a script error
  keExitNoResult = 3,   // the filter ended without a result
};

struct CHostOptions {
  bool help = false;
  bool list = false;
  bool planesAsFile = false;
  bool demo = false;         // the built-in session on the sample picture
  bool presets = false;      // the editor shows its preset row
  std::string script;        // a session script to replay instead of the editor
  std::string pluginFolder;  // empty: the default folders
  std::string input;         // empty: the sample picture
  std::string output;        // empty: derived from the input's name
};

// False, with the reason, for a command line that does not make sense.
bool ParseHostOptions(const std::vector<std::string>& arguments, CHostOptions& options,
                      std::string& error);

// Where the result goes when no output is named: `<input name>.kelvane.png`
// in the current folder, `sample.kelvane.png` for the sample.
std::string DefaultOutputPath(const std::string& input);

// The folders searched for modules: the one named, or `../plugins` beside the
// executable and then the installed folder.
std::vector<std::string> PluginFolders(const CHostOptions& options);

std::string HostUsage();

// The whole program; returns its exit status.
int RunHostProgram(int argc, char** argv);
