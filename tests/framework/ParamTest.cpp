#include "framework/Param.h"

#include <gtest/gtest.h>

#include <climits>
#include <sstream>

namespace {

TEST(ParamTest, BooleanTextMatchesOnlyTheExactWords) {
  CBoolParam param;
  param.ReadText("true");
  EXPECT_EQ(param.m_value, 0);
  param.ReadText("True");
  EXPECT_EQ(param.m_value, 1);
  param.ReadText("FALSE");
  param.ReadText(" False");
  param.ReadText("");
  EXPECT_EQ(param.m_value, 1);
  EXPECT_EQ(param.ReadText("False"), 0);
  EXPECT_EQ(param.m_value, 0);
}

TEST(ParamTest, IntegerTextFollowsTheCLibraryRuleWithoutClamping) {
  CIntParam param;
  param.m_min = 0;
  param.m_max = 100;
  const struct {
    const char* text;
    int expected;
  } cases[] = {
      {"12ab", 12}, {"x", 0},         {"250", 250},          {"  \t-7", -7},        {"+8", 8},
      {"", 0},      {"- 3", 0},       {"99999999999", INT_MAX}, {"-99999999999", INT_MIN}, {"-2147483648", INT_MIN},
  };
  for (const auto& c : cases) {
    param.m_value = 55;
    EXPECT_EQ(param.ReadText(c.text), 0);
    EXPECT_EQ(param.m_value, c.expected) << '"' << c.text << '"';
  }
}

TEST(ParamTest, TheBaseClassHasNoTextForm) {
  CParam param;
  EXPECT_EQ(param.m_name, "generic param");
  EXPECT_EQ(param.ReadText("1"), -1);
  std::ostringstream out;
  param.WriteText(out);
  EXPECT_EQ(out.str(), "");
}

TEST(ParamTest, PresetLinesShowNameAndValue) {
  CBoolParam fill;
  fill.m_name = "FILLHOLES";
  fill.SetInt(1);
  std::ostringstream out;
  fill.WriteText(out);
  EXPECT_EQ(out.str(), "\tFILLHOLES : True\n");

  CIntParam contract;
  contract.m_name = "CONTRACT";
  contract.SetInt(-5);
  out.str("");
  contract.WriteText(out);
  EXPECT_EQ(out.str(), "\tCONTRACT : -5\n");
}

TEST(ParamTest, BooleansReadAndWriteThroughTheIntegerInterface) {
  CBoolParam param;
  EXPECT_EQ(param.m_name, CBoolParam::kClassName);
  EXPECT_EQ(param.SetInt(7), 1);
  int out = 42;
  EXPECT_EQ(param.GetInt(out), 1);
  EXPECT_EQ(out, 1);
  uint8_t flag = 9;
  param.GetBool(flag);
  EXPECT_EQ(flag, 1);
  param.SetInt(0);
  param.GetInt(out);
  EXPECT_EQ(out, 0);
  // Any non-zero byte is true, and true is stored as 1.
  param.SetBool(7);
  EXPECT_EQ(param.m_value, 1);
  EXPECT_EQ(&param.AssignInt(0), &param);
  EXPECT_EQ(param.m_value, 0);
}

TEST(ParamTest, GettersAClassLacksLeaveTheirOutputAlone) {
  CIntParam number;
  number.SetInt(12);
  uint8_t flag = 5;
  number.GetBool(flag);
  EXPECT_EQ(flag, 5);
  number.SetBool(1);  // not an integer setter: nothing happens
  int value = 0;
  number.GetInt(value);
  EXPECT_EQ(value, 12);

  CBoolParam boolean;
  double real = 2.5;
  boolean.GetDouble(real);
  EXPECT_EQ(real, 2.5);
  CParam generic;
  value = 3;
  generic.GetInt(value);
  EXPECT_EQ(value, 3);
}

TEST(ParamTest, AnIntegerCloneIsAnIndependentCopyOfEverything) {
  CIntParam original;
  original.m_name = "Tolerance";
  original.m_flags = 0;
  original.m_reserved = 17;
  original.m_min = 0;
  original.m_max = 100;
  original.m_default = 30;
  original.SetInt(55);

  std::unique_ptr<CParam> clone = original.Clone();
  auto* copy = dynamic_cast<CIntParam*>(clone.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->m_name, "Tolerance");
  EXPECT_EQ(copy->m_flags, 0u);
  EXPECT_EQ(copy->m_regType, static_cast<uint32_t>(REG_DWORD));
  EXPECT_EQ(copy->m_reserved, 17);
  EXPECT_EQ(copy->m_value, 55);
  EXPECT_EQ(copy->m_min, 0);
  EXPECT_EQ(copy->m_max, 100);
  EXPECT_EQ(copy->m_default, 30);
  EXPECT_TRUE(copy->Equals(original));

  copy->SetInt(1);
  copy->m_max = 9;
  copy->m_name = "other";
  EXPECT_EQ(original.m_value, 55);
  EXPECT_EQ(original.m_max, 100);
  EXPECT_EQ(original.m_name, "Tolerance");
  EXPECT_FALSE(copy->Equals(original));
}

TEST(ParamTest, ABooleanCloneKeepsValueAndDefault) {
  CBoolParam original;
  original.m_name = "FILLHOLES";
  original.m_default = 1;
  original.SetInt(0);
  std::unique_ptr<CParam> clone = original.Clone();
  auto* copy = dynamic_cast<CBoolParam*>(clone.get());
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->m_name, "FILLHOLES");
  EXPECT_EQ(copy->m_value, 0);
  EXPECT_EQ(copy->m_default, 1);
  copy->ResetToDefault();
  EXPECT_EQ(copy->m_value, 1);
  EXPECT_EQ(original.m_value, 0);

  CParam generic;
  generic.m_name = "g";
  EXPECT_EQ(generic.Clone()->m_name, "g");
}

TEST(ParamTest, CopyingAndComparingWorkOnlyWithinOneClass) {
  CIntParam from;
  from.m_value = 4;
  from.m_min = 1;
  from.m_max = 8;
  from.m_default = 2;
  CIntParam to;
  from.CopyValueTo(to);
  EXPECT_EQ(to.m_value, 4);
  EXPECT_EQ(to.m_min, 1);
  EXPECT_EQ(to.m_max, 8);
  EXPECT_EQ(to.m_default, 2);

  CBoolParam boolean;
  boolean.m_value = 1;
  CBoolParam other;
  boolean.CopyValueTo(other);
  EXPECT_EQ(other.m_value, 1);

  CIntParam one;
  one.m_value = 1;
  boolean.CopyValueTo(one);  // different class: untouched
  from.CopyValueTo(boolean);
  EXPECT_EQ(one.m_min, 0);
  EXPECT_EQ(boolean.m_value, 1);
  EXPECT_FALSE(boolean.Equals(one));
  EXPECT_FALSE(one.Equals(boolean));
  CParam generic;
  EXPECT_FALSE(generic.Equals(generic));
}

}  // namespace
