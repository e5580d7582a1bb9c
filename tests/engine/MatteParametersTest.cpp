#include "engine/MatteParameters.h"

#include <gtest/gtest.h>

#include <utility>

#include "framework/Param.h"
#include "framework/ParamSet.h"

// Stored settings and preset files name these keys and hold these ranges,
// so they are written out here rather than read back from the table.
TEST(MatteParameters, TheSetHoldsEachParameterUnderItsKeyWithItsLimitsAtItsDefault) {
  CParamSet set;
  DefineMatteParameters(set);
  const struct {
    int slot;
    const char* key;
    int maximum;
    int defaultValue;
  } numbers[] = {
      {keSlotStrength, "Tolerance", 100, 30},
      {keSlotSmoothing, "SMOOTH", 9, 0},
      {keSlotFeather, "FEZER", 50, 1},
      {keSlotContract, "CONTRACT", 100, 0},
  };
  for (const auto& expected : numbers) {
    auto* param = dynamic_cast<CIntParam*>(set.FindParam(expected.slot));
    ASSERT_NE(param, nullptr) << expected.key;
    EXPECT_EQ(param->m_name, expected.key);
    EXPECT_EQ(set.Names().at(expected.slot), expected.key);
    EXPECT_EQ(param->m_min, 0) << expected.key;
    EXPECT_EQ(param->m_max, expected.maximum) << expected.key;
    EXPECT_EQ(param->m_default, expected.defaultValue) << expected.key;
    EXPECT_EQ(param->m_value, expected.defaultValue) << expected.key;
  }
  for (const auto& [slot, key] :
       {std::pair{keSlotFillHoles, "FILLHOLES"}, std::pair{keSlotTextured, "TEXTUREDBACK"}}) {
    auto* param = dynamic_cast<CBoolParam*>(set.FindParam(slot));
    ASSERT_NE(param, nullptr) << key;
    EXPECT_EQ(param->m_name, key);
    EXPECT_EQ(set.Names().at(slot), key);
    EXPECT_EQ(param->m_default, 0) << key;
    EXPECT_EQ(param->m_value, 0) << key;
  }
  EXPECT_EQ(set.Params().size(), 6u);
}

TEST(MatteParameters, ScriptWordsAreFoundExactly) {
  ASSERT_NE(FindScriptParameter("feathering"), nullptr);
  EXPECT_EQ(FindScriptParameter("feathering")->slot, keSlotFeather);
  for (const char* word : {"Feathering", "feather", "featherings", "", "FEZER"}) {
    EXPECT_EQ(FindScriptParameter(word), nullptr) << word;
  }
  EXPECT_EQ(FindMatteParameter(kMatteParameterCount), nullptr);
  EXPECT_EQ(FindMatteParameter(-1), nullptr);
}
