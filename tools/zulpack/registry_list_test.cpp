#include "registry_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "config/compressed_container.h"
#include "config/data_block.h"
#include "config/memory_file_system.h"
#include "install/registry_entries.h"
#include "platform/test_support/fake_install_adapters.h"
#include "platform/test_support/fake_platform.h"

namespace zul::pack {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

void writeHost(const fs::path& p, std::string_view data) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << data;
}

const Text kDemoGbk = "\xD1\xDD\xCA\xBE";  // 演示
const char* const kDemoUtf8 = "\xE6\xBC\x94\xE7\xA4\xBA";
const Text kTrueGbk = "\xD5\xE6", kFalseGbk = "\xBC\xD9";

// A project folder of its own for each test.
class RegistryListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("zulpack_registry_" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override { fs::remove_all(root_); }

  // The list's "ZULREG.db" as the installer reads it: decompressed, then
  // parsed by the installer's own reader. False with `*error` on a build error.
  bool build(std::string_view list, std::vector<RegistryEntry>* entries, std::string* error) {
    writeHost(root_ / "registry.txt", list);
    std::vector<ArchiveEntry> config;
    if (!addRegistryList(root_, &config, error)) return false;
    EXPECT_EQ(config.size(), 1u);
    EXPECT_EQ(config.at(0).name, "ZULREG.db");
    container_ = config.at(0).data;
    store_ = decompressBytes(container_);
    EXPECT_EQ(parseRegistryEntries(store_, entries), RegistryListStatus::kOk);
    return true;
  }

  fs::path root_;
  Bytes container_, store_;
};

TEST_F(RegistryListTest, EveryKindOfLineReadsBackThroughTheInstallersReader) {
  const std::string script1 = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\%InstallPath%]\r\n\"v\"=\"1\"\r\n";
  std::string script2 = "\xFF\xFE"s;
  for (char c : std::string_view("Windows Registry Editor Version 5.00\r\n")) script2 += {c, '\0'};
  writeHost(root_ / "scripts/first.reg", script1);
  writeHost(root_ / "second.reg", script2);
  const std::string list = std::string("\xEF\xBB\xBF") +
                           "; comment\n"
                           "# another\n"
                           "import = scripts/first.reg\n"
                           "\n"
                           "[HKEY_CURRENT_USER\\Software\\" + kDemoUtf8 + "]\r\n"
                           "@ = sz:default text\n"
                           "  InstallDir = sz:%InstallPath%\\app.exe  \n"
                           "\"name = with sign\" = sz:a=b\n"
                           "\"say \"\"hi\"\"\" = sz:\n"
                           "\"@\" = dword:7\n"
                           "\"import\" = sz:not a script\n"
                           "sub\\Leaf = sz:x\n"
                           "[HKEY_LOCAL_MACHINE\\Software\\%InstallPath%\\] remove\n"
                           "Min = DWORD:-2147483648\n"
                           "Max = dword:4294967295\n"
                           "Blob = hex:00,01 ff,\tAb\n"
                           "Empty = hex:\n"
                           + kDemoUtf8 + " = sz:" + kDemoUtf8 + "\n"
                           "import=second.reg\n"
                           "[HKEY_CLASSES_ROOT\\.zul]\n"
                           "@=sz:zul.file";
  std::vector<RegistryEntry> entries;
  std::string error;
  ASSERT_TRUE(build(list, &entries, &error)) << error;

  const Text hkcu = "HKEY_CURRENT_USER\\Software\\" + kDemoGbk;
  const Text hklm = "HKEY_LOCAL_MACHINE\\Software\\%InstallPath%";
  const std::vector<RegistryEntry> want = {
      {"", "file", script1, kFalseGbk, ""},
      {hkcu, "REG_SZ", "default text", kFalseGbk, ""},
      {hkcu, "REG_SZ", "%InstallPath%\\app.exe", kFalseGbk, "InstallDir"},
      {hkcu, "REG_SZ", "a=b", kFalseGbk, "name = with sign"},
      {hkcu, "REG_SZ", "", kFalseGbk, "say \"hi\""},
      {hkcu, "REG_DWORD", "7", kFalseGbk, "@"},
      {hkcu, "REG_SZ", "not a script", kFalseGbk, "import"},
      {hkcu, "REG_SZ", "x", kFalseGbk, "sub\\Leaf"},
      {hklm, "REG_DWORD", "-2147483648", kTrueGbk, "Min"},
      {hklm, "REG_DWORD", "-1", kTrueGbk, "Max"},
      {hklm, "REG_BINARY", "\x00\x01\xFF\xAB"s, kTrueGbk, "Blob"},
      {hklm, "REG_BINARY", "", kTrueGbk, "Empty"},
      {hklm, "REG_SZ", kDemoGbk, kTrueGbk, kDemoGbk},
      {"", "file", script2, kFalseGbk, ""},
      {"HKEY_CLASSES_ROOT\\.zul", "REG_SZ", "zul.file", kFalseGbk, ""},
  };
  ASSERT_EQ(entries.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(entries[i].path, want[i].path) << i;
    EXPECT_EQ(entries[i].type, want[i].type) << i;
    EXPECT_EQ(entries[i].data, want[i].data) << i;
    EXPECT_EQ(entries[i].off, want[i].off) << i;
    EXPECT_EQ(entries[i].name, want[i].name) << i;
  }

  // The container: magic, the plain length, a zlib stream.
  EXPECT_EQ(container_.substr(0, 4), Bytes("\x0D\x0F\x3E\x03", 4));
  const uint32_t stated = static_cast<uint8_t>(container_[4]) | static_cast<uint8_t>(container_[5]) << 8 |
                          static_cast<uint8_t>(container_[6]) << 16 | static_cast<uint32_t>(static_cast<uint8_t>(container_[7])) << 24;
  EXPECT_EQ(stated, store_.size());
  EXPECT_EQ(findDataBlock(store_, "num"), "15");

  // And the installer writes it.
  MemoryFileSystem files;
  FakeSystem system;
  FakeRegistry registry;
  FakeUi ui;
  Platform platform{files, system, registry, ui};
  FakeProcessRunner runner;
  SetupState state;
  state.makeUninstaller = 1;
  state.registryEntries = store_;
  const Text dir = "C:\\Program Files\\" + kDemoGbk;
  files.files[dir + "\\uninst.ini"] = "[x]\r\n";
  writeRegistryEntries(platform, runner, state, dir);

  const Text cuKey = "Software\\" + kDemoGbk;
  const Text lmKey = "Software\\" + dir;
  EXPECT_EQ(registry.readString(RegistryRoot::kCurrentUser, cuKey, ""), "default text");
  EXPECT_EQ(registry.readString(RegistryRoot::kCurrentUser, cuKey, "InstallDir"), dir + "\\app.exe");
  EXPECT_EQ(registry.readString(RegistryRoot::kCurrentUser, cuKey + "\\sub", "Leaf"), "x");
  EXPECT_EQ((registry.dwords[{RegistryRoot::kCurrentUser, cuKey, "@"}]), 7u);
  EXPECT_EQ((registry.dwords[{RegistryRoot::kLocalMachine, lmKey, "Min"}]), 0x80000000u);
  EXPECT_EQ((registry.dwords[{RegistryRoot::kLocalMachine, lmKey, "Max"}]), 0xFFFFFFFFu);
  EXPECT_EQ(registry.readBinary(RegistryRoot::kLocalMachine, lmKey, "Blob"), "\x00\x01\xFF\xAB"s);
  EXPECT_EQ(registry.readString(RegistryRoot::kLocalMachine, lmKey, kDemoGbk), kDemoGbk);
  EXPECT_EQ(registry.readString(RegistryRoot::kClassesRoot, ".zul", ""), "zul.file");
  ASSERT_EQ(runner.runs.size(), 2u);
  EXPECT_EQ(files.files["T:\\Temp\\ZUL1.reg"],
            "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\" + dir + "]\r\n\"v\"=\"1\"\r\n");
  EXPECT_EQ(files.files["T:\\Temp\\ZUL14.reg"], script2);
  const Text lm = "HKEY_LOCAL_MACHINE\\Software\\" + dir;
  EXPECT_EQ(findDataBlock(files.files[dir + "\\uninst.ini"], kRegistryRemovalBlock),
            lm + "\\Min\r\n" + lm + "\\Max\r\n" + lm + "\\Blob\r\n" + lm + "\\Empty\r\n" + lm + "\\" + kDemoGbk + "\r\n");
}

TEST_F(RegistryListTest, GbkListReadsAsItsUtf8Twin) {
  std::vector<RegistryEntry> entries;
  std::string error;
  ASSERT_TRUE(build("[HKEY_USERS\\.DEFAULT\\" + kDemoGbk + "]\r\n" + kDemoGbk + "=sz:" + kDemoGbk + "\r\n", &entries,
                    &error))
      << error;
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].path, "HKEY_USERS\\.DEFAULT\\" + kDemoGbk);
  EXPECT_EQ(entries[0].name, kDemoGbk);
  EXPECT_EQ(entries[0].data, kDemoGbk);
}

TEST_F(RegistryListTest, MistakesNameTheFileLineAndReason) {
  writeHost(root_ / "notes.txt", "just text\n");
  writeHost(root_ / "string.reg", "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\%InstallPath%]\r\n; %InstallPath%\r\n"
                                  "\"v\"=\"%InstallPath%\\\\app.exe\"\r\n");
  std::string wide = "\xFF\xFE"s;
  for (char c : std::string_view("Windows Registry Editor Version 5.00\r\n\"v\"=\"%InstallPath%\"")) wide += {c, '\0'};
  writeHost(root_ / "wide.reg", wide);
  struct Case {
    std::string list;
    int line;
    std::string reason;
  } cases[] = {
      {"; c\nv = sz:x\n", 2, "a value before any [key]"},
      {"[hkey_current_user\\Software]\n", 1, "root names are case-sensitive: write HKEY_CURRENT_USER"},
      {"[HKCU\\Software]\n", 1, "unknown root \"HKCU\""},
      {"[HKEY_CURRENT_USER]\n", 1, "a key below the root is needed"},
      {"\n\n[HKEY_CURRENT_USER\\Software\n", 3, "no closing ']'"},
      {"[HKEY_CURRENT_USER\\Software] removed\n", 1, "only \"remove\" may follow"},
      {"[HKEY_CURRENT_USER\\S]\nv = multi:x\n", 2, "unknown type \"multi\""},
      {"[HKEY_CURRENT_USER\\S]\nv = 12\n", 2, "expected type:data"},
      {"[HKEY_CURRENT_USER\\S]\nv\n", 2, "expected \"name = type:data\""},
      {"[HKEY_CURRENT_USER\\S]\n= sz:x\n", 2, "no name"},
      {"[HKEY_CURRENT_USER\\S]\n\"v = sz:x\n", 2, "no closing '\"'"},
      {"[HKEY_CURRENT_USER\\S]\nv = dword:4294967296\n", 2, "bad dword \"4294967296\""},
      {"[HKEY_CURRENT_USER\\S]\nv = dword:-2147483649\n", 2, "bad dword"},
      {"[HKEY_CURRENT_USER\\S]\nv = dword:12abc\n", 2, "bad dword"},
      {"[HKEY_CURRENT_USER\\S]\nv = dword:\n", 2, "bad dword"},
      {"[HKEY_CURRENT_USER\\S]\nv = hex:0g\n", 2, "bad hex bytes \"0g\""},
      {"[HKEY_CURRENT_USER\\S]\nv = hex:012\n", 2, "bad hex bytes"},
      {"[HKEY_CURRENT_USER\\S]\nv = hex:1,2\n", 2, "bad hex bytes"},
      {"import = missing.reg\n", 1, "import: " + (root_ / "missing.reg").string() + ": cannot be read"},
      {"import = notes.txt\n", 1, "not a registry script"},
      {"import =\n", 1, "import needs a file name"},
      {"\nimport = string.reg\n", 2, "string.reg:5: %InstallPath% in a quoted name or string"},
      {"import = wide.reg\n", 1, "wide.reg: a UTF-16 script keeps %InstallPath% as written"},
      {"[HKEY_CURRENT_USER\\S]\n; \xF0\x9F\x98\x80 in a comment is fine\nv = sz:\xF0\x9F\x98\x80\n", 3,
       "a character that GBK cannot hold"},
      {"[HKEY_CURRENT_USER\\S\xF0\x9F\x98\x80]\n", 1, "a character that GBK cannot hold"},
      {"[HKEY_CURRENT_USER\\S]\nv = sz:a\x01\n", 2, "control character"},
      {"[HKEY_CURRENT_USER\\S]\r\nv = sz:\xB1\xFF\xFF\r\n", 2, "neither UTF-8 nor GBK"},
      {"[HKEY_CURRENT_USER\\S]\nv = sz:see REGdata1end\n", 2, "\"REGdata1end\""},
  };
  for (const Case& c : cases) {
    std::vector<RegistryEntry> entries;
    std::string error;
    EXPECT_FALSE(build(c.list, &entries, &error)) << c.list;
    const std::string where = (root_ / "registry.txt").string() + ":" + std::to_string(c.line) + ": ";
    EXPECT_EQ(error.rfind(where, 0), 0u) << error;
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
  }
}

TEST_F(RegistryListTest, NoListGivesNoFileAndASecondListOrUtf16IsRefused) {
  std::vector<ArchiveEntry> config;
  std::string error;
  ASSERT_TRUE(addRegistryList(root_, &config, &error));
  EXPECT_TRUE(config.empty());

  writeHost(root_ / "registry.txt", "[HKEY_CURRENT_USER\\S]\nv=sz:x\n");
  ArchiveEntry own;
  own.name = "zulreg.DB";
  config.push_back(own);
  EXPECT_FALSE(addRegistryList(root_, &config, &error));
  EXPECT_NE(error.find("already holds a ZULREG.db"), std::string::npos) << error;
  EXPECT_EQ(config.size(), 1u);

  config.clear();
  writeHost(root_ / "registry.txt", "\xFF\xFE[\0H\0"s);
  EXPECT_FALSE(addRegistryList(root_, &config, &error));
  EXPECT_NE(error.find("UTF-16 text"), std::string::npos) << error;
}

// Contents made of other blocks' names: numbers that are prefixes of each
// other (1, 10, 11, 12), openings and closings of other blocks inside
// binary data and scripts. Every entry must read back exactly.
TEST(EncodeRegistryEntriesTest, BlockNamesInsideContentsDoNotConfuseTheLookup) {
  std::vector<RegistryListEntry> entries;
  for (int i = 1; i <= 12; ++i) {
    RegistryListEntry e;
    e.path = "HKEY_CURRENT_USER\\K" + std::to_string(i);
    e.type = "REG_SZ";
    e.name = "V" + std::to_string(i);
    e.data = "d" + std::to_string(i);
    e.remove = i % 2;
    e.line = i;
    entries.push_back(e);
  }
  // Openings of later data blocks inside earlier binary data, and the
  // reverse; a chain 1 -> 10 -> 12.
  entries[0].type = "REG_BINARY";
  entries[0].data = "REGdata10\x01" "fakeREGdata10end num\x01" "99numend REGpath2\x01x"s;
  entries[9].type = "file";
  entries[9].data = "REGEDIT4\r\nREGdata12\x01zz REGdata1end REGname12end"s;
  entries[11].type = "REG_BINARY";
  entries[11].data = "REGdata2\x01REGdata11\x01\x00REGoff3end"s;
  // Texts holding other blocks' closings and number-prefixed names.
  entries[1].name = "REGpath10end REGname1end";
  entries[2].path = "HKEY_CURRENT_USER\\REGdata1end\\REGpath1";
  entries[3].data = "REGtype4 REGtype40end REGtype4en";
  entries[4].name = "REGname";  // a prefix of its own closing pattern at the end of the content

  Bytes store;
  std::string error;
  ASSERT_TRUE(encodeRegistryEntries(entries, "list", &store, &error)) << error;
  std::vector<RegistryEntry> read;
  ASSERT_EQ(parseRegistryEntries(store, &read), RegistryListStatus::kOk);
  ASSERT_EQ(read.size(), entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(read[i].path, entries[i].path) << i;
    EXPECT_EQ(read[i].type, entries[i].type) << i;
    EXPECT_EQ(read[i].data, entries[i].data) << i;
    EXPECT_EQ(read[i].off, entries[i].remove ? kTrueGbk : kFalseGbk) << i;
    EXPECT_EQ(read[i].name, entries[i].name) << i;
  }

  // Two data blocks that hold each other's openings cannot both come first.
  std::vector<RegistryListEntry> cycle(entries.begin(), entries.begin() + 2);
  cycle[0].data = "REGdata2\x01"s;
  cycle[1].type = "REG_BINARY";
  cycle[1].data = "REGdata1\x01"s;
  EXPECT_FALSE(encodeRegistryEntries(cycle, "list", &store, &error));
  EXPECT_EQ(error.rfind("list:1: ", 0), 0u) << error;

  // A content that holds its own closing pattern is cut by any lookup.
  std::vector<RegistryListEntry> own(entries.begin(), entries.begin() + 3);
  own[2].data = "x\x01REGdata3endy"s;
  EXPECT_FALSE(encodeRegistryEntries(own, "list", &store, &error));
  EXPECT_EQ(error.rfind("list:3: ", 0), 0u) << error;
}

TEST(CompressContainerTest, TheInstallersInflaterGetsTheBytesBack) {
  Bytes plain;
  for (int i = 0; i < 5000; ++i) plain += static_cast<char>(i * 7919 % 251);
  Bytes container;
  ASSERT_TRUE(compressContainer(plain, &container));
  EXPECT_EQ(decompressBytes(container), plain);
  EXPECT_FALSE(compressContainer("", &container));
}

}  // namespace
}  // namespace zul::pack
