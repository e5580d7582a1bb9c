#include "imagecore/CoreResult.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

// Runs f and answers the code of the CJException it throws, or 0.
template <typename F>
uint32_t ThrownCode(F&& f) {
  try {
    f();
  } catch (const CJException& e) {
    return e.Code();
  }
  return 0;
}

CoreResult FailingCallee(uint32_t code) { return MakeResult(code); }

struct AllocationFailure {
  AllocationFailure() { SetResultAllocationFailsForTesting(true); }
  ~AllocationFailure() { SetResultAllocationFailsForTesting(false); }
};

}  // namespace

TEST(CoreResultTest, SetResultZeroClearsAnUnexaminedFailureWithoutThrowing) {
  CoreResult slot;
  SetResult(slot, 101);
  EXPECT_NO_THROW(SetResult(slot, 0));
  EXPECT_TRUE(slot.IsNull());
  EXPECT_EQ(ExamineResult(slot), 0u);

  // Replacing one failure by another disarms the first, too.
  SetResult(slot, 110);
  EXPECT_NO_THROW(SetResult(slot, 102));
  EXPECT_EQ(ExamineResult(slot), 102u);
}

TEST(CoreResultTest, AnExaminedFailureIsDroppedQuietly) {
  auto caller = [] {
    CoreResult result = FailingCallee(101);
    return ExamineResult(result);
  };
  uint32_t code = 0;
  EXPECT_NO_THROW(code = caller());
  EXPECT_EQ(code, 101u);
}

TEST(CoreResultTest, AnUnexaminedFailureThrowsItsCodeWhereItIsReleased) {
  EXPECT_EQ(ThrownCode([] { CoreResult dropped = FailingCallee(110); }), 110u);
  // Deliberately left unexamined: the handle's end raises it.
  EXPECT_EQ(ThrownCode([] { static_cast<void>(FailingCallee(801)); }), 801u);

  // Overwriting by assignment releases what was held.
  EXPECT_EQ(ThrownCode([] {
              CoreResult held = FailingCallee(101);
              held = CoreResult();
            }),
            101u);

  // Success never throws.
  EXPECT_EQ(ThrownCode([] { CoreResult fine = FailingCallee(0); }), 0u);
}

TEST(CoreResultTest, SharingArmsAnExaminedFailureAgainForTheNewHolder) {
  CoreResult first;
  SetResult(first, 110);
  ExamineResult(first);
  EXPECT_EQ(ThrownCode([&] {
              CoreResult second(first);
              ReleaseResult(first);  // not the last reference: no throw here
              EXPECT_TRUE(first.IsNull());
            }),
            110u);

  // The sharer that examines in turn lets both go quietly.
  CoreResult a;
  SetResult(a, 102);
  ExamineResult(a);
  EXPECT_EQ(ThrownCode([&] {
              CoreResult b;
              ShareResult(b, a);
              EXPECT_EQ(ExamineResult(b), 102u);
              ReleaseResult(a);
            }),
            0u);
}

TEST(CoreResultTest, ResultFromExceptionKeepsCodeAndMessageAndIsArmed) {
  CoreResult slot;
  try {
    CJException thrown(keErrPngMissing);
    thrown.SetMessage("resource 102 is missing");
    throw thrown;
  } catch (const CJException& caught) {
    ResultFromException(slot, caught);
  }
  ASSERT_FALSE(slot.IsNull());
  EXPECT_STREQ(slot.Get()->MessageText(), "resource 102 is missing");
  EXPECT_EQ(ThrownCode([&] { ReleaseResult(slot); }), 201u);

  SetResult(slot, 0);
  try {
    throw CJException(keErrAborted);
  } catch (const CJException& caught) {
    ResultFromException(slot, caught);
  }
  EXPECT_EQ(ExamineResult(slot), 100u);
}

TEST(CoreResultTest, ResultFromExceptionMayBeGivenTheSlotsOwnResult) {
  CoreResult slot;
  SetResult(slot, 110);
  slot.Get()->SetMessage("own");
  ResultFromException(slot, *slot.Get());
  EXPECT_STREQ(slot.Get()->MessageText(), "own");
  EXPECT_EQ(ExamineResult(slot), 110u);
}

TEST(CoreResultTest, ExhaustedMemoryYieldsTheArmedOutOfMemoryResult) {
  CoreResult slot;
  {
    AllocationFailure failing;
    SetResult(slot, 7);
  }
  EXPECT_EQ(slot.Get()->Code(), 102u);
  EXPECT_EQ(ThrownCode([&] { ReleaseResult(slot); }), 102u);

  {
    AllocationFailure failing;
    ResultFromException(slot, CJException(keErrBitmapBits));
  }
  EXPECT_EQ(ExamineResult(slot), 102u);
}

TEST(CoreResultTest, MessageFallsBackToTheNumberedTemplate) {
  CJException e(keErrInvalidArgument);
  EXPECT_STREQ(e.MessageText(), "An undefined error has occured - 101");
  EXPECT_STREQ(e.what(), "An undefined error has occured - 101");
}

TEST(CoreResultTest, MessageComesFromTheCoreErrorCodesModule) {
  auto lookup = [](uint32_t id) -> const char* {
    if (id == 102) return "Not enough memory.";
    if (id == 0xFFFF) return "Core failure %u (code %u).";
    return nullptr;
  };
  auto other = [](uint32_t) -> const char* { return "wrong module"; };
  RegisterMessageModule("Unrelated", other);
  RegisterMessageModule("kelvane.coreErrorCodes", lookup);
  EXPECT_STREQ(CJException(102).MessageText(), "Not enough memory.");
  EXPECT_STREQ(CJException(110).MessageText(), "Core failure 110 (code 110).");
  UnregisterMessageModule("kelvane.coreErrorCodes");
  UnregisterMessageModule("Unrelated");
  EXPECT_STREQ(CJException(110).MessageText(), "An undefined error has occured - 110");
}

TEST(CoreResultTest, ALongExplicitMessageIsKeptWhole) {
  const std::string text(900, 'x');
  CJException e(101);
  e.SetMessage(text.c_str());
  EXPECT_EQ(std::string(e.MessageText()), text);
  CJException copy(e);
  EXPECT_EQ(std::string(copy.MessageText()), text);
}

TEST(CoreResultTest, NoSecondExceptionWhileUnwinding) {
  bool caughtRuntime = false;
  try {
    CoreResult unexamined = FailingCallee(101);
    throw std::runtime_error("first");
  } catch (const std::runtime_error&) {
    caughtRuntime = true;
  } catch (const CJException&) {
    FAIL() << "the failure was thrown during unwinding";
  }
  EXPECT_TRUE(caughtRuntime);

  // Inside a handler nothing is in flight any more: the rule applies again.
  EXPECT_EQ(ThrownCode([] {
              try {
                throw std::runtime_error("handled");
              } catch (const std::runtime_error&) {
                CoreResult dropped = FailingCallee(110);
              }
            }),
            110u);
}

TEST(CoreResultTest, ThrowIfFailedThrowsOnlyFailures) {
  EXPECT_NO_THROW(ThrowIfFailed(0));
  EXPECT_EQ(ThrownCode([] { ThrowIfFailed(110); }), 110u);
}
