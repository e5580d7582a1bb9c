// The filter's parameters, declared once: slot and key in the parameter
// set, word in session scripts, label and control on the editor's panel,
// limits and default. The filter, the editor and the script reader all read
// this table, so a new parameter is a row here plus its control on the
// panel.
#pragma once

#include <iterator>
#include <string_view>

#include "engine/RefineEdge.h"

class CParamSet;

// Parameter slots.
enum : int {
  keSlotStrength = 0,   // "Tolerance"
  keSlotSmoothing = 1,  // "SMOOTH"
  keSlotFeather = 2,    // "FEZER"
  keSlotContract = 3,   // "CONTRACT"
  keSlotFillHoles = 4,  // "FILLHOLES"
  keSlotTextured = 5,   // "TEXTUREDBACK"
  keSlotRefineEdge = 6, // "REFINEEDGE"
  keSlotEdgeWidth = 7,  // "EDGEWIDTH"
  keSlotColourModel = 8, // "COLOURMODEL"
};

// No slot: the parameter's preset line is always written.
inline constexpr int keAlwaysWritten = -1;

// No slot: the parameter's control is always enabled.
inline constexpr int keAlwaysEnabled = -1;

// How the panel shows a parameter, and so what kind of value it holds.
enum keParamControl : int {
  keControlField,     // an integer parameter in a numeric field
  keControlCheckBox,  // a boolean parameter: 0 clear, 1 checked
};

struct CMatteParameter {
  int slot;
  const char* key;         // registry value and preset line
  const char* scriptWord;  // `set <word> <value>`
  const char* label;       // on the panel
  keParamControl control;
  int minimum;
  int maximum;
  int defaultValue;
  // The preset line is written only while this slot's value is non-zero,
  // so that presets saved with an optional stage off stay as older
  // versions wrote and read them.
  int writtenWhenSlot = keAlwaysWritten;
  // The control is enabled only while this slot's check box is checked: a
  // setting of an optional stage that is off does nothing.
  int enabledWhenSlot = keAlwaysEnabled;
};

// In the order the panel creates its numeric fields and scripts list their
// words; the slots fix the order of the set.
inline constexpr CMatteParameter kMatteParameters[] = {
    {keSlotStrength, "Tolerance", "strength", "Strength", keControlField, 0, 100, 30},
    {keSlotContract, "CONTRACT", "contract", "Contract", keControlField, 0, 100, 0},
    {keSlotFeather, "FEZER", "feathering", "Feathering", keControlField, 0, 50, 1},
    {keSlotSmoothing, "SMOOTH", "smoothing", "Boundary Smoothing", keControlField, 0, 9, 0},
    {keSlotFillHoles, "FILLHOLES", "fillholes", "Fill Holes", keControlCheckBox, 0, 1, 0},
    {keSlotTextured, "TEXTUREDBACK", "textured", "Textured Background", keControlCheckBox, 0, 1, 0},
    {keSlotColourModel, "COLOURMODEL", "colourmodel", "Colour Model", keControlCheckBox, 0, 1, 0,
     keSlotColourModel},
    {keSlotRefineEdge, "REFINEEDGE", "refine", "Refine Edge", keControlCheckBox, 0, 1, 0,
     keSlotRefineEdge},
    {keSlotEdgeWidth, "EDGEWIDTH", "edgewidth", "Edge Width", keControlField, kEdgeWidthMin,
     kEdgeWidthMax, 10, keSlotRefineEdge, keSlotRefineEdge},
};

inline constexpr int kMatteParameterCount = static_cast<int>(std::size(kMatteParameters));

// The row of a slot; null for a slot no parameter has.
constexpr const CMatteParameter* FindMatteParameter(int slot) {
  for (const CMatteParameter& row : kMatteParameters) {
    if (row.slot == slot) return &row;
  }
  return nullptr;
}

// The row whose script word is exactly `word`; null for none.
const CMatteParameter* FindScriptParameter(std::string_view word);

// Every parameter into the set, each holding its default.
void DefineMatteParameters(CParamSet& set);
