// What the install sequence needs of the wizard's installing and finish
// pages. The wizard implements it with its controls; silent installs use a
// view that shows nothing.
#pragma once

#include <vector>

#include "base/text.h"
#include "startup/setup_state.h"

namespace zul {

class InstallView {
 public:
  virtual ~InstallView() = default;

  // Wizard page numbers the sequence switches to.
  static constexpr int kInstallingPage = 4;
  static constexpr int kFinishPage = 5;

  virtual void showPage(int page) = 0;
  // Replaces the installing page's log list by `image`, stretched to the
  // list's rectangle; later log lines go nowhere but the status label.
  virtual void showInstallingImage(const Bytes& image) = 0;
  // Appends a line to the log list, selects it and scrolls it into view.
  virtual void appendLog(const Text& line) = 0;
  virtual void setStatus(const Text& text) = 0;
  // Progress bar position, 0 to 100.
  virtual int progress() = 0;
  virtual void setProgress(int percent) = 0;
  // One checked box per option on the finish page, replacing earlier ones.
  virtual void showFinishOptions(const std::vector<FinishOption>& options) = 0;
  // Processes pending window messages so the window stays responsive.
  virtual void pumpMessages() = 0;
};

// A view without a window, for the silent install: keeps the log and the
// progress in memory.
class HeadlessInstallView : public InstallView {
 public:
  void showPage(int page) override { this->page = page; }
  void showInstallingImage(const Bytes&) override {}
  void appendLog(const Text& line) override { log.push_back(line); }
  void setStatus(const Text& text) override { status = text; }
  int progress() override { return percent; }
  void setProgress(int value) override { percent = value; }
  void showFinishOptions(const std::vector<FinishOption>& options) override { finishOptions = options; }
  void pumpMessages() override {}

  int page = 0;
  std::vector<Text> log;
  Text status;
  int percent = 0;
  std::vector<FinishOption> finishOptions;
};

}  // namespace zul
