// The picture library is started once for every test of this program, as
// the host program starts it once.
#include <gtest/gtest.h>

#include "tools/kelvane/PictureLibrary.h"

namespace {

class CPictureLibraryEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(StartPictureLibrary("test_tools", error)) << error;
  }
};

const auto* const g_environment =
    ::testing::AddGlobalTestEnvironment(new CPictureLibraryEnvironment);

}  // namespace
