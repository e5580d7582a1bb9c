// Collects the message boxes shown while it lives instead of showing them,
// and answers each with `answer`, or with the box's default button while
// `answer` is 0.
#pragma once

#include <string>
#include <vector>

#include "platform/MessageBox.h"

class CBoxRecorder {
 public:
  CBoxRecorder() {
    m_previous = SetMessageBoxHandler(
        [this](void*, const std::string& text, const std::string&, unsigned type) {
          texts.push_back(text);
          return answer ? answer : DefaultMessageBoxButton(type);
        });
  }
  ~CBoxRecorder() { SetMessageBoxHandler(m_previous); }
  CBoxRecorder(const CBoxRecorder&) = delete;
  CBoxRecorder& operator=(const CBoxRecorder&) = delete;

  std::vector<std::string> texts;
  int answer = 0;

 private:
  MessageBoxHandler m_previous;
};
