// The session `kelvane --demo` replays on the sample picture.
#pragma once

// How messages name the built-in script.
extern const char* const kDemoSessionName;

// The script's text, in the session-script language.
const char* DemoSessionScript();
