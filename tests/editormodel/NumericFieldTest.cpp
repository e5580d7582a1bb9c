#include "editor/model/NumericField.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(NumericField, ReadsTextAsAtofDoes) {
  EXPECT_EQ(ReadNumberText("1e2"), 100.0);
  EXPECT_EQ(ReadNumberText("  42abc"), 42.0);
  EXPECT_EQ(ReadNumberText("-7"), -7.0);
  EXPECT_EQ(ReadNumberText("12e"), 12.0);
  EXPECT_EQ(ReadNumberText("12e-"), 12.0);
  EXPECT_EQ(ReadNumberText("1e-1"), 0.1);
  EXPECT_EQ(ReadNumberText("5-"), 5.0);
  EXPECT_EQ(ReadNumberText("3.75"), 3.75);
  EXPECT_EQ(ReadNumberText("-"), 0.0);
  EXPECT_EQ(ReadNumberText("--5"), 0.0);
  EXPECT_EQ(ReadNumberText(""), 0.0);
  EXPECT_EQ(ReadNumberText("e5"), 0.0);
  EXPECT_TRUE(std::isinf(ReadNumberText("1e999")));
}

TEST(NumericField, IntegerReadClampsThenTruncatesTowardZero) {
  CNumericField feathering(0, 50, 1);
  feathering.SetText("1e2");
  EXPECT_EQ(feathering.GetInt(), 50);
  CNumericField strength(0, 100, 30);
  strength.SetText("150");
  EXPECT_EQ(strength.GetInt(), 100);
  strength.SetText("-3");
  EXPECT_EQ(strength.GetInt(), 0);
  strength.SetText("7e-1");  // 0.7
  EXPECT_EQ(strength.GetInt(), 0);
  strength.SetText("99e-1");  // 9.9
  EXPECT_EQ(strength.GetInt(), 9);
  strength.SetText("1e999");
  EXPECT_EQ(strength.GetInt(), 100);
  CNumericField brush(5, 300, 50);
  brush.SetText("");
  EXPECT_EQ(brush.GetInt(), 5);
}

TEST(NumericField, LeavingRewritesAValueOutsideTheLimits) {
  CNumericField smoothing(0, 9, 0);
  smoothing.SetText("12");
  EXPECT_EQ(smoothing.GetInt(), 9);  // before the focus has left
  EXPECT_EQ(smoothing.Text(), "12");
  EXPECT_TRUE(smoothing.OnLeave());
  EXPECT_EQ(smoothing.Text(), "9");
  smoothing.SetText("4");
  EXPECT_FALSE(smoothing.OnLeave());
  EXPECT_EQ(smoothing.Text(), "4");
}

TEST(NumericField, StepsStayWithinTheLimits) {
  CNumericField field(0, 9, 9);
  field.Step(1);
  EXPECT_EQ(field.Text(), "9");
  field.Step(-1);
  EXPECT_EQ(field.Text(), "8");
  field.SetText("40");
  field.Step(-1);  // from the clamped 9
  EXPECT_EQ(field.Text(), "8");
}

TEST(NumericField, ShowsWholeNumbers) {
  EXPECT_EQ(CNumericField::Format(30), "30");
  EXPECT_EQ(CNumericField::Format(0), "0");
  EXPECT_EQ(CNumericField::Format(1.5), "2");
  EXPECT_EQ(CNumericField::Format(2.5), "2");  // as printf rounds a tie
  CNumericField field(0, 100, 30);
  EXPECT_EQ(field.Text(), "30");
}

TEST(NumericField, TypedCharacters) {
  EXPECT_TRUE(CNumericField::AcceptsChar("", 0, '5'));
  EXPECT_TRUE(CNumericField::AcceptsChar("12", 2, '-'));
  EXPECT_TRUE(CNumericField::AcceptsChar("12", 2, '\b'));
  EXPECT_TRUE(CNumericField::AcceptsChar("12", 1, 'e'));
  EXPECT_FALSE(CNumericField::AcceptsChar("12", 0, 'e'));  // not first
  EXPECT_FALSE(CNumericField::AcceptsChar("1e2", 3, 'E'));  // only one exponent
  EXPECT_FALSE(CNumericField::AcceptsChar("12", 2, '.'));
  EXPECT_FALSE(CNumericField::AcceptsChar("12", 2, '+'));
  EXPECT_FALSE(CNumericField::AcceptsChar("12", 2, 'a'));
}
