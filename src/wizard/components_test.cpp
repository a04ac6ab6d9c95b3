#include "wizard/components.h"

#include <gtest/gtest.h>

namespace zul {
namespace {

const Text kYes = "\xD5\xE6";  // 真

TEST(ComponentModelTest, TicksFromTheBaseComponentList) {
  struct Case {
    const char* what;
    std::vector<Text> list;
    std::array<bool, 4> ticks;  // items 1..4
  };
  const Case cases[] = {
      {"three yes", {kYes, kYes, kYes}, {true, true, true, true}},
      {"yes, empty, yes", {kYes, "", kYes}, {false, true, false, true}},
      {"two yes: item 4 unnamed stays unticked", {kYes, kYes}, {true, true, true, false}},
      {"empty key as start-up splits it", {""}, {true, false, false, false}},
      {"no elements", {}, {true, false, false, false}},
      {"a fourth element has no item", {kYes, kYes, kYes, ""}, {true, true, true, true}},
      {"only the exact text ticks", {"\xD5\xE6 ", "true", kYes}, {false, false, false, true}},
  };
  for (const Case& c : cases) {
    ComponentModel model;
    model.build(c.list);
    for (int item = 1; item <= 4; ++item) EXPECT_EQ(model.checked(item), c.ticks[item - 1]) << c.what << " item " << item;
    const ComponentChoices choices = defaultComponentChoices(c.list);
    EXPECT_EQ(choices.desktop, c.ticks[1]) << c.what;
    EXPECT_EQ(choices.programGroup, c.ticks[2]) << c.what;
    EXPECT_EQ(choices.quickLaunch, c.ticks[3]) << c.what;
  }
}

TEST(ComponentModelTest, BaseItemCarriesItsTickToTheOthersButNotBack) {
  ComponentModel model;
  model.build({kYes, kYes, kYes});
  model.setChecked(ComponentModel::kProgramGroup, false);
  EXPECT_TRUE(model.checked(ComponentModel::kBase));
  EXPECT_FALSE(model.choices().programGroup);

  model.setChecked(ComponentModel::kBase, false);
  EXPECT_FALSE(model.choices().desktop || model.choices().programGroup || model.choices().quickLaunch);
  model.setChecked(ComponentModel::kBase, true);
  EXPECT_TRUE(model.choices().desktop && model.choices().programGroup && model.choices().quickLaunch);

  // A second build (a later visit of the page) keeps the user's ticks.
  model.setChecked(ComponentModel::kDesktop, false);
  model.build({kYes, kYes, kYes});
  EXPECT_FALSE(model.checked(ComponentModel::kDesktop));
  model.setChecked(0, true);
  model.setChecked(5, true);
  EXPECT_FALSE(model.checked(5));
}

TEST(ComponentModelTest, UnbuiltModelHasEveryComponentUnticked) {
  ComponentModel model;
  model.setChecked(ComponentModel::kBase, true);
  EXPECT_FALSE(model.built());
  EXPECT_FALSE(model.checked(ComponentModel::kBase));
  EXPECT_FALSE(model.choices().desktop || model.choices().programGroup || model.choices().quickLaunch);
  EXPECT_EQ(ComponentModel::caption(2), "\xD7\xC0\xC3\xE6\xBF\xEC\xBD\xDD\xB7\xBD\xCA\xBD");  // 桌面快捷方式
  EXPECT_EQ(ComponentModel::caption(5), "");
  EXPECT_EQ(ComponentModel::indent(1), 0);
  EXPECT_EQ(ComponentModel::indent(4), 1);
}

}  // namespace
}  // namespace zul
