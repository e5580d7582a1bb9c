#include "HostTestSupport.h"

#include <gtest/gtest.h>

#include "imagecore/CoreStartup.h"

namespace {

// The core is started once, as the module's instance initialisation does.
class CCoreEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(CoreStartup(), 0u); }
  void TearDown() override { CoreShutdown(); }
};

[[maybe_unused]] const auto* const s_environment = ::testing::AddGlobalTestEnvironment(new CCoreEnvironment);

}  // namespace

CBoxRecorder::CBoxRecorder() {
  m_previous = SetMessageBoxHandler([this](void*, const std::string& text,
                                           const std::string& caption, unsigned type) {
    boxes.push_back({text, caption, type});
    return IDOK;
  });
}

CBoxRecorder::~CBoxRecorder() { SetMessageBoxHandler(m_previous); }

CHostRun::CHostRun(int width, int height, int planes, int16_t mode)
    : in(static_cast<size_t>(width) * height * planes),
      out(static_cast<size_t>(width) * height * planes, kUntouched) {
  for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 7 + 3);
  record.imageSize.v = static_cast<int16_t>(height);
  record.imageSize.h = static_cast<int16_t>(width);
  record.planes = static_cast<int16_t>(planes);
  record.imageMode = mode;
  record.inRect = record.outRect = record.maskRect = VRect{1, 2, 3, 4};
  record.inData = in.data();
  record.inRowBytes = width * planes;
  record.outData = out.data();
  record.outRowBytes = width * planes;
}

bool IsEmptyRect(const VRect& rect) {
  return rect.top == 0 && rect.left == 0 && rect.bottom == 0 && rect.right == 0;
}
