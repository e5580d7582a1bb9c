// The background-removal filter's application: accepts RGB layers with
// transparency only.
#pragma once

#include "host/PluginApp.h"

class CMatteApp : public CPluginApp {
 public:
  bool CheckImage(FilterRecord* record, void* platformData) override;
};

// The box a refused layer gets.
extern const char* const kInputErrorCaption;
extern const char* const kInputErrorText;
