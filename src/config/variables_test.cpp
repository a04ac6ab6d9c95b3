#include "config/variables.h"

#include <gtest/gtest.h>

#include "config/memory_file_system.h"
#include "config/package_config.h"

namespace zul {
namespace {

const Text kDir = "C:\\data\\";
const Text kValueKey = "\xCA\xFD\xBE\xDD";  // 数据
const Text kReference = "#\xD7\xCA\xD4\xB4\xCA\xFD\xBE\xDD_readme";  // #资源数据_readme

class VariablesTest : public ::testing::Test {
 protected:
  VariablesTest() {
    state_.dataDir = kDir;
    folders_.shell = {{5, "C:\\Docs"}, {6, "C:\\Fav\\"}, {16, "c:\\Users\\u\\Desktop\\"}, {20, "C:\\Windows\\Fonts"},
                      {11, "C:\\Start"}, {2, "C:\\Start\\Programs"}, {7, "C:\\Start\\Programs\\Startup"},
                      {26, "C:\\Roaming"}};
    folders_.windows = "C:\\Windows";
    folders_.system = "C:\\Windows\\system32";
    folders_.temp = "c:\\temp\\";
    folders_.variables = {{"programfiles", "C:\\Program Files (x86)"}, {"userprofile", "C:\\Users\\u"}};
  }
  // One section per variable, in the order given.
  void setVariables(const std::vector<std::pair<Text, Text>>& variables) {
    Text ini;
    for (const auto& [name, value] : variables) ini += "[" + name + "]\r\n" + kValueKey + "=" + value + "\r\n";
    fs_.files[kDir + "variable.ini"] = ini;
  }
  Bytes& file(const Text& name) { return fs_.files[kDir + name]; }
  // Expands `text` placed in "GUItext.ini" and returns the result.
  Bytes expand(const Text& text) {
    file("GUItext.ini") = text;
    EXPECT_TRUE(expandVariables(fs_, folders_, state_));
    return file("GUItext.ini");
  }

  MemoryFileSystem fs_;
  FixedSpecialFolders folders_;
  SetupState state_;
};

TEST_F(VariablesTest, NoVariablesExpandsNothingButKeepsTheCompanions) {
  const Text sep(kCompanionSeparator);
  for (const char* variables : std::initializer_list<const char*>{"; nothing here\r\nk=v\r\n", nullptr}) {
    SCOPED_TRACE(variables ? "no sections" : "no variable.ini");
    fs_.files.clear();
    if (variables) fs_.files[kDir + "variable.ini"] = variables;
    file("data.ini") = "%Version%";
    file("ZULDLL_s.ini") = "descriptors %Version%";
    EXPECT_TRUE(expandVariables(fs_, folders_, state_));
    EXPECT_EQ(fs_.moves, 0);
    EXPECT_EQ(file("data.ini"), "%Version%");
    EXPECT_FALSE(fs_.exists(kDir + "GUItext.ini"));
    // The uninstaller is built from these even when nothing is expanded.
    EXPECT_EQ(state_.uninstallerData,
              "descriptors %Version%" + sep + sep + sep + (variables ? Text(variables) : Text()) + sep);
  }
}

TEST_F(VariablesTest, BuiltInsAndPlainValues) {
  file("data.ini") = "[" + Text(keys::kSetupSection) + "]\r\n" + Text(keys::kProductVersion) + "=2.5\r\n" +
                     Text(keys::kProductName) + "=App\r\n";
  setVariables({{"%Version%", "1.0"},       {"%ProductName%", ""},         {"%ProgramFiles%", ""},
                {"%WindowsDir%", ""},        {"%TempDir%", ""},             {"%Desktop%", ""},
                {"%MenuDir%", ""},           {"%InstallPath%", "C:\\x"},    {"%UserProfile%", ""},
                {"%QuickLaunch%", ""},       {"%Plain%", "  plain value "}, {"%Quoted%", "\"q\""},
                {"%CompanyCopyright%", "x"}, {"%MainExe%", "x"}});
  const struct {
    const char* text;
    Text expected;
  } cases[] = {
      {"%Version%", "2.5"},
      {"%ProductName%", "App"},
      {"%CompanyCopyright%|%MainExe%", "|"},
      {"%ProgramFiles%", "C:\\Program Files"},
      {"%WindowsDir%", "C:\\Windows\\system32"},
      {"%TempDir%", "C:\\temp"},
      {"%Desktop%", "C:\\Users\\u\\Desktop"},
      {"%MenuDir%", "C:\\Start\\Programs"},
      {"%InstallPath%\\a.exe", "%InstallPath%\\a.exe"},
      {"%UserProfile%", "C:\\Users\\u"},
      {"%QuickLaunch%", "C:\\Users\\u\\AppData\\Roaming\\Microsoft\\Internet Explorer\\Quick Launch"},
      {"[%Plain%]", "[plain value]"},
      {"%Quoted%", "q"},
      {"%version% %VERSION%", "%version% %VERSION%"},
      {"%Version%%Version%%Version", "2.52.5%Version"},
  };
  for (const auto& c : cases) EXPECT_EQ(expand(c.text), c.expected) << c.text;
}

TEST_F(VariablesTest, BuiltInsWithoutSectionsStay) {
  setVariables({{"%Other%", "o"}});
  EXPECT_EQ(expand("%Desktop% %Version% %Other%"), "%Desktop% %Version% o");
}

TEST_F(VariablesTest, QuickLaunchBeforeVersion6) {
  folders_.version = 0x0A280105;  // 5.1
  setVariables({{"%QuickLaunch%", ""}});
  EXPECT_EQ(expand("%QuickLaunch%"), "C:\\Users\\u\\Application Data\\Microsoft\\Internet Explorer\\Quick Launch");
}

TEST_F(VariablesTest, SectionOrderDecidesNestedNames) {
  setVariables({{"%A%", "a(%B%)"}, {"%B%", "b"}, {"%C%", "c(%A%)"}});
  EXPECT_EQ(expand("%A% %C%"), "a(b) c(%A%)");
}

// The key built-ins see "data.ini" as it was on disk, not as expanded so far.
TEST_F(VariablesTest, KeyBuiltInsReadTheFileBeforeExpansion) {
  file("data.ini") = "[" + Text(keys::kSetupSection) + "]\r\n" + Text(keys::kProductVersion) + "=v%X%\r\n";
  setVariables({{"%X%", "9"}, {"%Version%", ""}});
  EXPECT_EQ(expand("%Version%"), "v%X%");
  EXPECT_EQ(file("data.ini"), "[" + Text(keys::kSetupSection) + "]\r\n" + Text(keys::kProductVersion) + "=v9\r\n");
}

TEST_F(VariablesTest, BlockReferences) {
  const Text other = "#\xD7\xCA\xD4\xB4\xCA\xFD\xBE\xDD_other";
  file("var_data.ini") = kReference + "\x01" + "line 1\r\n" + other + "\r\nline 2" + kReference + "end";
  setVariables({{"%Readme%", kReference}, {"%Other%", other}});
  // Three references give three copies; the reference inside the content
  // and a missing block are not expanded further.
  EXPECT_EQ(expand("%Readme%|%Readme%|" + kReference + "|%Other%"),
            "line 1\r\n" + other + "\r\nline 2|line 1\r\n" + other + "\r\nline 2|line 1\r\n" + other +
                "\r\nline 2|");
}

TEST_F(VariablesTest, AllFourFilesAndTheCompanionBlock) {
  const Bytes registryList("\x0D\x0F\x3E\x03%V%\0\xFF", 10);
  file("data.ini") = "d=%V%";
  file("ZULREG.db") = registryList;
  file("ZULDLL_s.ini") = "s=%V%";
  file("ZULDLL.db") = "db %V%";
  file("var_data.ini") = "vd %V%";
  setVariables({{"%V%", "1"}});
  const Bytes rawVariables = file("variable.ini");
  EXPECT_EQ(expand("g=%V%"), "g=1");
  EXPECT_EQ(file("data.ini"), "d=1");
  EXPECT_EQ(file("ZULREG.db"), Bytes("\x0D\x0F\x3E\x03" "1\0\xFF", 8));
  EXPECT_EQ(file("ZULDLL_s.ini"), "s=1");
  EXPECT_EQ(file("ZULDLL.db"), "db %V%");
  EXPECT_EQ(file("var_data.ini"), "vd %V%");
  const Text sep(kCompanionSeparator);
  EXPECT_EQ(sep, "#\xA3\xA1\xA1\xEF\xA3\xA1#");
  EXPECT_EQ(state_.uninstallerData, "s=%V%" + sep + "db %V%" + sep + "vd %V%" + sep + rawVariables + sep);
}

TEST_F(VariablesTest, MissingFilesAreWrittenEmpty) {
  setVariables({{"%V%", "1"}});
  EXPECT_TRUE(expandVariables(fs_, folders_, state_));
  for (const char* name : {"data.ini", "ZULREG.db", "ZULDLL_s.ini", "GUItext.ini"}) {
    ASSERT_TRUE(fs_.exists(kDir + name)) << name;
    EXPECT_EQ(file(name), "") << name;
  }
  EXPECT_EQ(state_.uninstallerData, Text(kCompanionSeparator) + Text(kCompanionSeparator) +
                                        Text(kCompanionSeparator) + file("variable.ini") + Text(kCompanionSeparator));
}

TEST_F(VariablesTest, AFailedWriteIsReportedAndLeavesTheOldFile) {
  setVariables({{"%V%", "1"}});
  file("data.ini") = "d=%V%";
  fs_.failMove = true;
  EXPECT_FALSE(expandVariables(fs_, folders_, state_));
  EXPECT_EQ(file("data.ini"), "d=%V%");
  EXPECT_FALSE(fs_.exists(kDir + "data.ini.zul-new"));
}

// Values that name later variables twice double the text with every
// variable; the expansion stops growing a file at the limit.
TEST_F(VariablesTest, GrowthIsBounded) {
  std::vector<std::pair<Text, Text>> chain;
  for (int i = 0; i < 40; ++i) {
    const Text next = "%V" + std::to_string(i + 1) + "%";
    chain.push_back({"%V" + std::to_string(i) + "%", next + next});
  }
  setVariables(chain);
  file("GUItext.ini") = "%V0%";
  EXPECT_TRUE(expandVariables(fs_, folders_, state_, 100000));
  EXPECT_LE(file("GUItext.ini").size(), 100000u);
  EXPECT_GT(file("GUItext.ini").size(), 100000u / 4);
}

TEST(SpecialFolderTest, NumbersAndTrailingSeparator) {
  FixedSpecialFolders folders;
  folders.shell = {{5, "P"}, {6, "F"}, {16, "D\\"}, {20, "N"}, {11, "S"}, {2, "G"}, {7, "U"}, {26, "A"}};
  folders.windows = "W";
  folders.system = "Y\\";
  folders.temp = "T";
  const Text expected[] = {"P\\", "F\\", "D\\", "N\\", "S\\", "G\\", "U\\", "A\\", "W\\", "Y\\", "T\\"};
  for (int n = 1; n <= 11; ++n) EXPECT_EQ(specialFolder(folders, n), expected[n - 1]) << n;
  EXPECT_EQ(specialFolder(folders, 0), "");
  EXPECT_EQ(specialFolder(folders, 12), "");
  folders.shell.erase(16);
  EXPECT_EQ(specialFolder(folders, 3), "");
  // A GBK character whose trail byte is "\" still needs the separator.
  folders.windows = "C:\\\x81\x5C";
  EXPECT_EQ(specialFolder(folders, 9), "C:\\\x81\x5C\\");
}

TEST(NormalisePathTest, FirstLetterUpAndOneSeparatorOff) {
  const struct {
    Text in, out;
  } cases[] = {{"c:\\temp\\", "C:\\temp"}, {"c:\\temp\\\\", "C:\\temp\\"}, {"C:\\temp", "C:\\temp"},
               {"", ""},                   {"\\", ""},                   {"abc", "Abc"},
               {"\xB0\xA1\\", "\xB0\xA1"}, {"c:\\\x81\x5C", "C:\\\x81\x5C"}};
  for (const auto& c : cases) EXPECT_EQ(normalisePath(c.in), c.out) << c.in;
}

TEST(SystemVersionTest, MajorPlusMinorTenths) {
  FixedSpecialFolders folders;
  folders.version = 0x0105;
  EXPECT_DOUBLE_EQ(systemVersion(folders), 5.1);
  folders.version = 0x1DB10106;
  EXPECT_DOUBLE_EQ(systemVersion(folders), 6.1);
  folders.version = 0x0206;
  EXPECT_DOUBLE_EQ(systemVersion(folders), 6.2);
}

}  // namespace
}  // namespace zul
