// The session script as the host takes it: read once and bounded before any
// picture is decoded, and for a batch read through by the module before any
// process starts, so that a script that cannot run costs nothing.
#pragma once

#include <string>

#include "tools/filterhost/FilterHost.h"

// The whole file. False, with a message naming it, when it cannot be read or
// is longer than kScriptByteLimit; reading stops there, so a file that never
// ends costs no more than that.
bool ReadScriptFile(const std::string& path, std::string& text, std::string& error);

// Has the module read the script file through without a picture, finding
// the lines that are malformed whatever the picture. True, with the module's
// "FILE:LINE:COLUMN: ..." in `message`, when one is. A module that does not
// check scripts, or fails to, finds nothing: each picture then finds out for
// itself, as before.
bool ScriptIsMalformed(const CFilterModule& module, const std::string& path,
                       std::string& message);
