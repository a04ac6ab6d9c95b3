// The components page's model: four check items, ticked from the package's
// "基本组件勾选" list, read by the shortcut step when the install starts.
//
// Items are numbered from 1 as the page shows them: 1 the base component,
// 2 desktop shortcut, 3 program group, 4 quick launch (2 to 4 indented
// under 1). The page draws this model; the model knows nothing of controls.
#pragma once

#include <array>
#include <vector>

#include "base/text.h"

namespace zul {

// The three shortcut components that the user may untick.
struct ComponentChoices {
  bool desktop = false;       // item 2
  bool programGroup = false;  // item 3
  bool quickLaunch = false;   // item 4
};

class ComponentModel {
 public:
  static constexpr int kItemCount = 4;
  static constexpr int kBase = 1;
  static constexpr int kDesktop = 2;
  static constexpr int kProgramGroup = 3;
  static constexpr int kQuickLaunch = 4;

  // An unbuilt model has no items: every check reads as unticked.
  ComponentModel() = default;

  // Fills the four items from `baseComponents` (the key split at "，"; a
  // list holding one empty text stands for an empty key): item i + 1 is
  // ticked exactly when element i is "真", for the first three elements;
  // when none of the items so named is unticked (also with no elements),
  // item 1 is ticked. Items not named stay unticked. Only the first call
  // fills the model; later calls keep the user's ticks.
  void build(const std::vector<Text>& baseComponents);
  bool built() const { return built_; }

  // False for an item outside 1..4 and for every item of an unbuilt model.
  bool checked(int item) const;
  // A user's change of item's tick. Item 1 carries its new state to items 2
  // to 4; the others leave item 1 alone. Ignored outside 1..4 and before
  // build().
  void setChecked(int item, bool checked);

  // The ticks of items 2, 3 and 4.
  ComponentChoices choices() const;

  // GBK caption and description text of item 1..4; empty outside.
  static Text caption(int item);
  static Text description(int item);
  // Indent level of the item under the list's first item.
  static int indent(int item) { return item > kBase && item <= kItemCount ? 1 : 0; }

 private:
  bool built_ = false;
  std::array<bool, kItemCount + 1> checked_{};  // [0] unused
};

// The ticks a model built from `baseComponents` holds before the user
// changes anything.
ComponentChoices defaultComponentChoices(const std::vector<Text>& baseComponents);

}  // namespace zul
