// The few pieces of user interface that the engines need before the wizard.
#pragma once

#include "base/text.h"

namespace zul {

class Ui {
 public:
  virtual ~Ui() = default;
  // A modal message with an OK button; returns when it is closed.
  virtual void showMessage(const Text& text, const Text& title) = 0;
  // Processes the window messages that are waiting, then returns.
  virtual void pumpMessages() = 0;
};

}  // namespace zul
