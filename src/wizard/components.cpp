#include "wizard/components.h"

#include <string_view>

namespace zul {
namespace {

constexpr std::string_view kTicked = "\xD5\xE6";  // 真

constexpr std::string_view kCaptions[] = {
    "\xBB\xF9\xB1\xBE\xD7\xE9\xBC\xFE",                  // 基本组件
    "\xD7\xC0\xC3\xE6\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD",  // 桌面快捷方式
    "\xBF\xAA\xCA\xBC\xB2\xCB\xB5\xA5\xD7\xE9\xBC\xFE",  // 开始菜单组件
    "\xBF\xEC\xCB\xD9\xC6\xF4\xB6\xAF\xC0\xB8",          // 快速启动栏
};

constexpr std::string_view kDescriptions[] = {
    // 请勾选基本组件的中的项目
    "\xC7\xEB\xB9\xB4\xD1\xA1\xBB\xF9\xB1\xBE\xD7\xE9\xBC\xFE\xB5\xC4\xD6\xD0\xB5\xC4\xCF\xEE\xC4\xBF",
    // 安装完该软件后将应用主程序增加至桌面快捷方式
    "\xB0\xB2\xD7\xB0\xCD\xEA\xB8\xC3\xC8\xED\xBC\xFE\xBA\xF3\xBD\xAB\xD3\xA6\xD3\xC3\xD6\xF7\xB3\xCC\xD0\xF2"
    "\xD4\xF6\xBC\xD3\xD6\xC1\xD7\xC0\xC3\xE6\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD",
    // 在开始的菜单文件夹里增加快捷方式的组件
    "\xD4\xDA\xBF\xAA\xCA\xBC\xB5\xC4\xB2\xCB\xB5\xA5\xCE\xC4\xBC\xFE\xBC\xD0\xC0\xEF\xD4\xF6\xBC\xD3\xBF\xEC"
    "\xBD\xDD\xB7\xBD\xCA\xBD\xB5\xC4\xD7\xE9\xBC\xFE",
    // 在快速运行烂里增加启动主程序的快捷方式
    "\xD4\xDA\xBF\xEC\xCB\xD9\xD4\xCB\xD0\xD0\xC0\xC3\xC0\xEF\xD4\xF6\xBC\xD3\xC6\xF4\xB6\xAF\xD6\xF7\xB3\xCC"
    "\xD0\xF2\xB5\xC4\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD",
};

bool inRange(int item) { return item >= 1 && item <= ComponentModel::kItemCount; }

}  // namespace

void ComponentModel::build(const std::vector<Text>& baseComponents) {
  if (built_) return;
  built_ = true;
  checked_.fill(false);
  // The start-up split gives one empty element for an empty key.
  const bool noElements = baseComponents.empty() || (baseComponents.size() == 1 && baseComponents[0].empty());
  bool anyUnticked = false;
  if (!noElements) {
    for (size_t i = 0; i < baseComponents.size() && i + 2 <= kItemCount; ++i) {
      checked_[i + 2] = baseComponents[i] == kTicked;
      anyUnticked = anyUnticked || !checked_[i + 2];
    }
  }
  // Ticking item 1 here does not carry over: the page binds its change
  // handler only after filling the list.
  if (!anyUnticked) checked_[kBase] = true;
}

bool ComponentModel::checked(int item) const { return built_ && inRange(item) && checked_[item]; }

void ComponentModel::setChecked(int item, bool checked) {
  if (!built_ || !inRange(item)) return;
  checked_[item] = checked;
  if (item == kBase) {
    for (int child = kBase + 1; child <= kItemCount; ++child) checked_[child] = checked;
  }
}

ComponentChoices ComponentModel::choices() const {
  return {checked(kDesktop), checked(kProgramGroup), checked(kQuickLaunch)};
}

Text ComponentModel::caption(int item) { return inRange(item) ? Text(kCaptions[item - 1]) : Text(); }

Text ComponentModel::description(int item) { return inRange(item) ? Text(kDescriptions[item - 1]) : Text(); }

ComponentChoices defaultComponentChoices(const std::vector<Text>& baseComponents) {
  ComponentModel model;
  model.build(baseComponents);
  return model.choices();
}

}  // namespace zul
