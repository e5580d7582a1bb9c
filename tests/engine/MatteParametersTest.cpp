#include "engine/MatteParameters.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>

#include "framework/Param.h"
#include "framework/ParamSet.h"
#include "framework/Presets.h"

// Stored settings and preset files name these keys and hold these ranges,
// so they are written out here rather than read back from the table.
TEST(MatteParameters, TheSetHoldsEachParameterUnderItsKeyWithItsLimitsAtItsDefault) {
  CParamSet set;
  DefineMatteParameters(set);
  const struct {
    int slot;
    const char* key;
    int minimum;
    int maximum;
    int defaultValue;
  } numbers[] = {
      {keSlotStrength, "Tolerance", 0, 100, 30}, {keSlotSmoothing, "SMOOTH", 0, 9, 0},
      {keSlotFeather, "FEZER", 0, 50, 1},        {keSlotContract, "CONTRACT", 0, 100, 0},
      {keSlotEdgeWidth, "EDGEWIDTH", 1, 50, 10},
  };
  for (const auto& expected : numbers) {
    auto* param = dynamic_cast<CIntParam*>(set.FindParam(expected.slot));
    ASSERT_NE(param, nullptr) << expected.key;
    EXPECT_EQ(param->m_name, expected.key);
    EXPECT_EQ(set.Names().at(expected.slot), expected.key);
    EXPECT_EQ(param->m_min, expected.minimum) << expected.key;
    EXPECT_EQ(param->m_max, expected.maximum) << expected.key;
    EXPECT_EQ(param->m_default, expected.defaultValue) << expected.key;
    EXPECT_EQ(param->m_value, expected.defaultValue) << expected.key;
  }
  for (const auto& [slot, key] :
       {std::pair{keSlotFillHoles, "FILLHOLES"}, std::pair{keSlotTextured, "TEXTUREDBACK"},
        std::pair{keSlotRefineEdge, "REFINEEDGE"}, std::pair{keSlotColourModel, "COLOURMODEL"}}) {
    auto* param = dynamic_cast<CBoolParam*>(set.FindParam(slot));
    ASSERT_NE(param, nullptr) << key;
    EXPECT_EQ(param->m_name, key);
    EXPECT_EQ(set.Names().at(slot), key);
    EXPECT_EQ(param->m_default, 0) << key;
    EXPECT_EQ(param->m_value, 0) << key;
  }
  EXPECT_EQ(set.Params().size(), 9u);
}

// Presets travel both ways between versions: with Refine Edge off a preset
// holds exactly the six lines it always held, and one without the two new
// lines loads with Refine Edge off, whatever was set before.
TEST(MatteParameters, RefineEdgeLinesAreWrittenOnlyWhileItIsOn) {
  CParamSet set;
  set.m_name = "Kelvane";
  DefineMatteParameters(set);
  set.FindParam(keSlotEdgeWidth)->SetInt(25);
  const std::string older =
      "Kelvane\r\n\tTolerance : 30\r\n\tSMOOTH : 0\r\n\tFEZER : 1\r\n\tCONTRACT : 0\r\n"
      "\tFILLHOLES : False\r\n\tTEXTUREDBACK : False\r\n";
  EXPECT_EQ(PresetFileText(set), older);

  set.FindParam(keSlotRefineEdge)->SetInt(1);
  EXPECT_EQ(PresetFileText(set), older + "\tREFINEEDGE : True\r\n\tEDGEWIDTH : 25\r\n");

  std::istringstream olderText(older);
  ASSERT_EQ(ParsePreset(olderText, set), 0);
  int refine = -1;
  int width = -1;
  set.FindParam(keSlotRefineEdge)->GetInt(refine);
  set.FindParam(keSlotEdgeWidth)->GetInt(width);
  EXPECT_EQ(refine, 0);
  EXPECT_EQ(width, 10);

  std::istringstream newerText(older + "\tREFINEEDGE : True\r\n\tEDGEWIDTH : 7\r\n");
  ASSERT_EQ(ParsePreset(newerText, set), 0);
  set.FindParam(keSlotRefineEdge)->GetInt(refine);
  set.FindParam(keSlotEdgeWidth)->GetInt(width);
  EXPECT_EQ(refine, 1);
  EXPECT_EQ(width, 7);
}

// Like Refine Edge's: a preset saved with Colour Model off is byte for byte
// what older versions wrote, and one without the line turns it off.
TEST(MatteParameters, ColourModelLineIsWrittenOnlyWhileItIsOn) {
  CParamSet set;
  set.m_name = "Kelvane";
  DefineMatteParameters(set);
  const std::string older =
      "Kelvane\r\n\tTolerance : 30\r\n\tSMOOTH : 0\r\n\tFEZER : 1\r\n\tCONTRACT : 0\r\n"
      "\tFILLHOLES : False\r\n\tTEXTUREDBACK : False\r\n";
  EXPECT_EQ(PresetFileText(set), older);

  set.FindParam(keSlotColourModel)->SetInt(1);
  EXPECT_EQ(PresetFileText(set), older + "\tCOLOURMODEL : True\r\n");
  set.FindParam(keSlotRefineEdge)->SetInt(1);
  EXPECT_EQ(PresetFileText(set),
            older + "\tREFINEEDGE : True\r\n\tEDGEWIDTH : 10\r\n\tCOLOURMODEL : True\r\n");

  std::istringstream olderText(older);
  ASSERT_EQ(ParsePreset(olderText, set), 0);
  int on = -1;
  set.FindParam(keSlotColourModel)->GetInt(on);
  EXPECT_EQ(on, 0);

  std::istringstream newerText(older + "\tCOLOURMODEL : True\r\n");
  ASSERT_EQ(ParsePreset(newerText, set), 0);
  set.FindParam(keSlotColourModel)->GetInt(on);
  EXPECT_EQ(on, 1);
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
