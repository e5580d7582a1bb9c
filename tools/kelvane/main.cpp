#include "platform/AtomicFile.h"
#include "tools/kelvane/HostProgram.h"

int main(int argc, char** argv) {
  // Ctrl-C, or a batch that stops its pictures, leaves no half-written file.
  RemoveTemporaryFilesOnSignal();
  return RunHostProgram(argc, argv);
}
