// Helpers shared by the host tests: records built like a host builds them,
// and a message-box recorder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/HostInterface.h"
#include "platform/MessageBox.h"

struct CShownBox {
  std::string text;
  std::string caption;
  unsigned type;
};

// Collects every box shown while it lives; boxes are answered with OK.
class CBoxRecorder {
 public:
  CBoxRecorder();
  ~CBoxRecorder();
  std::vector<CShownBox> boxes;

 private:
  MessageBoxHandler m_previous;
};

// A host's side of one run: the record and both buffers, the output filled
// with a marker byte so that any write shows.
struct CHostRun {
  CHostRun(int width, int height, int planes, int16_t mode);
  FilterRecord record{};
  std::vector<uint8_t> in;
  std::vector<uint8_t> out;
};

inline constexpr uint8_t kUntouched = 0xEE;

bool IsEmptyRect(const VRect& rect);
