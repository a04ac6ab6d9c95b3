#include "install/version_resource.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "config/memory_file_system.h"
#include "platform/test_support/fake_install_adapters.h"
#include "platform/test_support/scratch_folder.h"

namespace zul {
namespace {

uint16_t u16(std::string_view s, size_t at) {
  return static_cast<uint16_t>(static_cast<unsigned char>(s[at]) | static_cast<unsigned char>(s[at + 1]) << 8);
}
uint32_t u32(std::string_view s, size_t at) { return u16(s, at) | static_cast<uint32_t>(u16(s, at + 2)) << 16; }

// One entry of a VS_VERSIONINFO tree, read the way the system's version
// functions read it: lengths from the headers, children at 4-byte steps.
struct Node {
  uint16_t length = 0;       // wLength
  uint16_t valueLength = 0;  // wValueLength
  uint16_t type = 0;         // wType
  std::u16string key;
  Bytes value;  // the bytes between the padded header and the first child
  std::vector<Node> children;
};

size_t align4(size_t n) { return (n + 3) & ~size_t{3}; }

// Parses the entry at `at`; the value runs for wValueLength units (bytes for
// type 0, UTF-16 units for type 1 strings) and children follow it aligned.
Node parseNode(std::string_view data, size_t at, bool binaryValue) {
  Node node;
  node.length = u16(data, at);
  node.valueLength = u16(data, at + 2);
  node.type = u16(data, at + 4);
  size_t p = at + 6;
  while (u16(data, p) != 0) {
    node.key.push_back(static_cast<char16_t>(u16(data, p)));
    p += 2;
  }
  p = align4(p + 2);
  const size_t end = at + node.length;
  const size_t valueBytes = binaryValue || node.type == 0 ? node.valueLength : node.valueLength * 2u;
  node.value = Bytes(data.substr(p, std::min(valueBytes, end - p)));
  p = align4(p + valueBytes);
  while (p + 6 <= end) {
    node.children.push_back(parseNode(data, p, node.key == u"VarFileInfo"));
    p = align4(p + node.children.back().length);
  }
  return node;
}

// The string of a string value, up to its terminator.
std::u16string stringOf(const Node& node) {
  std::u16string s;
  for (size_t i = 0; i + 1 < node.value.size() && u16(node.value, i) != 0; i += 2) s.push_back(u16(node.value, i));
  return s;
}

const Node* child(const Node& node, std::u16string_view key) {
  for (const Node& c : node.children) {
    if (c.key == key) return &c;
  }
  return nullptr;
}

Bytes compile(std::string_view script) {
  Bytes out;
  EXPECT_EQ(compileVersionScript(script, *makeTextCodec(), &out), VersionScriptStatus::kOk);
  return out;
}

const Text kUninstaller = "\xD0\xB6\xD4\xD8\xB3\xCC\xD0\xF2";  // 卸载程序

VersionTexts uninstallerTexts(const Text& product) {
  VersionTexts texts;
  texts.company = kUninstaller;
  texts.rightsNotice = kUninstaller;
  texts.description = product;
  texts.productName = product;
  return texts;
}

TEST(VersionScriptTest, TemplateGivesTheWorkedSizes) {
  const Bytes data = compile(fillVersionTemplate(uninstallerTexts("\xB2\xE2\xCA\xD4")));  // 测试
  const Node root = parseNode(data, 0, false);
  EXPECT_EQ(root.length, data.size());
  EXPECT_EQ(root.valueLength, 52);
  EXPECT_EQ(root.type, 0);
  EXPECT_EQ(root.key, u"VS_VERSION_INFO");
  const uint32_t fixed[13] = {0xFEEF04BD, 1, 1, 1010u << 16 | 2020, 1, 1010u << 16 | 2020, 0x3F, 0, 0x40004, 1, 0, 0, 0};
  ASSERT_EQ(root.value.size(), 52u);
  for (int i = 0; i < 13; ++i) EXPECT_EQ(u32(root.value, i * 4), fixed[i]) << "field " << i;

  const Node* strings = child(root, u"StringFileInfo");
  ASSERT_TRUE(strings);
  const Node* table = child(*strings, u"080404B0");
  ASSERT_TRUE(table);
  ASSERT_EQ(table->children.size(), 8u);
  const Node& company = table->children[0];
  EXPECT_EQ(company.key, u"CompanyName");
  EXPECT_EQ(company.length, 44);
  EXPECT_EQ(company.valueLength, 6);
  EXPECT_EQ(company.type, 1);
  EXPECT_EQ(stringOf(company), u"\u5378\u8F7D\u7A0B\u5E8F");
  const Node& fileVersion = table->children[2];  // an empty text: terminator plus padding
  EXPECT_EQ(fileVersion.valueLength, 2);
  EXPECT_EQ(fileVersion.value, Bytes(4, '\0'));

  const Node* variables = child(root, u"VarFileInfo");
  ASSERT_TRUE(variables);
  EXPECT_EQ(variables->length, 68);
  ASSERT_EQ(variables->children.size(), 1u);
  const Node& translation = variables->children[0];
  EXPECT_EQ(translation.length, 36);
  EXPECT_EQ(translation.valueLength, 4);
  EXPECT_EQ(translation.type, 1);
  EXPECT_EQ(translation.value, "\x04\x08\xB0\x04");
  // The blocks' lengths add up to the whole.
  EXPECT_EQ(92u + strings->length + variables->length, data.size());
}

TEST(VersionScriptTest, HeaderKeywordsAndOddLines) {
  struct Case {
    const char* line;
    int field;  // index into the fixed part
    uint32_t expected;
  };
  const Case cases[] = {
      {"FILEVERSION 1,2,3", 2, 0},  // fewer than four numbers: ignored
      {"FILEVERSION  7, 8x ,9,10", 2, 7u << 16 | 8},
      {"PRODUCTVERSION 1,2,3,4", 5, 3u << 16 | 4},
      {"FILEOS 0X4", 8, 0},  // only a lower-case "0x" is skipped
      {"FILEOS -0x1", 8, 0xFFFFFFFF},
      {"FILETYPE +1fz", 9, 0x1F},
      {"  FILETYPE\t0x2", 9, 0},  // no space after the keyword: no argument
      {"fileos 0x4", 8, 0},       // keywords are case-sensitive
  };
  for (const Case& c : cases) {
    const Bytes data = compile(std::string(c.line) + "\r\n{\r\n}\r\n");
    ASSERT_EQ(data.size(), 92u) << c.line;
    EXPECT_EQ(u32(data, 40 + c.field * 4), c.expected) << c.line;
  }

  // No "}" at all, a value with a quote inside, a Translation with one number.
  const Bytes data = compile(
      "{\r\nBLOCK \"A\"\r\n{\r\nVALUE \"K\", \"say \"hi\"\"\r\nVALUE \"Translation\", 0x0804\r\nVALUE \"N\"\r\n");
  const Node root = parseNode(data, 0, false);
  ASSERT_EQ(root.children.size(), 1u);
  ASSERT_EQ(root.children[0].children.size(), 2u);
  EXPECT_EQ(stringOf(root.children[0].children[0]), u"say \"hi\"");
  EXPECT_TRUE(root.children[0].children[1].key == u"N");  // no comma: a name and an empty value
  EXPECT_EQ(root.children[0].children[1].value, Bytes(4, '\0'));
}

TEST(VersionScriptTest, LaterPlaceholdersReachEarlierTexts) {
  VersionTexts texts = uninstallerTexts("App");
  texts.description = "\xB2\xFA\xC6\xB7\xC3\xFB\xB3\xC6";  // 产品名称, itself a placeholder
  const Node root = parseNode(compile(fillVersionTemplate(texts)), 0, false);
  EXPECT_EQ(stringOf(root.children[0].children[0].children[1]), u"App");
}

TEST(VersionScriptTest, RefusesWhatDoesNotFitOrNestsTooDeep) {
  Bytes out = "x";
  VersionTexts texts;
  texts.company = Text(33000, 'a');
  EXPECT_EQ(compileVersionScript(fillVersionTemplate(texts), *makeTextCodec(), &out), VersionScriptStatus::kTooLarge);
  EXPECT_TRUE(out.empty());
  std::string deep = "{\r\n";
  for (int i = 0; i < 100; ++i) deep += "BLOCK \"b\"\r\n{\r\n";
  EXPECT_EQ(compileVersionScript(deep, *makeTextCodec(), &out), VersionScriptStatus::kTooDeep);
}

#ifndef _WIN32
// The RT_VERSION data of a .res file written by windres.
Bytes versionFromRes(std::string_view res) {
  size_t p = 0;
  while (p + 32 <= res.size()) {
    const uint32_t dataSize = u32(res, p), headerSize = u32(res, p + 4);
    if (u16(res, p + 8) == 0xFFFF && u16(res, p + 10) == 16) return Bytes(res.substr(p + headerSize, dataSize));
    p = align4(p + headerSize + dataSize);
  }
  return {};
}

// Compares what the system's version functions would read from two trees:
// keys, nesting, types of string values, texts and binary values. windres
// counts a string's length without its padding, leaves the last padding out
// of wLength and writes the binary Translation with type 0; those fields are
// not compared.
void expectSameTree(const Node& ours, const Node& theirs, const std::string& where) {
  EXPECT_TRUE(ours.key == theirs.key) << where;
  ASSERT_EQ(ours.children.size(), theirs.children.size()) << where;
  if (ours.children.empty() && !(ours.key == u"Translation")) {
    EXPECT_TRUE(stringOf(ours) == stringOf(theirs)) << where;
  } else if (ours.key == u"Translation") {
    EXPECT_EQ(ours.value, theirs.value) << where;
  }
  for (size_t i = 0; i < ours.children.size(); ++i) {
    expectSameTree(ours.children[i], theirs.children[i], where + "/" + std::to_string(i));
  }
}

TEST(VersionScriptTest, AgreesWithWindres) {
  const char* windres = "i686-w64-mingw32-windres";
  if (std::system((std::string("command -v ") + windres + " >/dev/null 2>&1").c_str()) != 0) {
    GTEST_SKIP() << "windres is not installed";
  }
  ScratchFolder scratch;
  VersionTexts all;
  all.company = "\xB9\xAB\xCB\xBE A";  // the placeholder word itself
  all.description = "\xC3\xE8\xCA\xF6 desc";
  all.fileVersion = "1.2.3.4";
  all.internalName = "\xC4\xDA\xB2\xBF";
  all.rightsNotice = "(c) 2026 \xB0\xE6\xC8\xA8";
  all.sourceFileName = "uninst.exe";
  all.productName = "\xB2\xE2\xCA\xD4\xB3\xCC\xD0\xF2";
  all.productVersion = "2.0";
  const VersionTexts cases[] = {uninstallerTexts("\xB2\xE2\xCA\xD4"), all, VersionTexts{}};
  int n = 0;
  for (const VersionTexts& texts : cases) {
    const Text script = fillVersionTemplate(texts);
    // The resource compiler wants a comma between the two Translation numbers;
    // ours reads both forms alike.
    Text forWindres = script;
    forWindres.replace(forWindres.find("0x0804 0x04B0"), 13, "0x0804, 0x04B0");
    EXPECT_EQ(compile(script), compile(forWindres));

    const std::string base = scratch.hostPath() + "/v" + std::to_string(n++);
    std::ofstream(base + ".rc", std::ios::binary) << forWindres;
    const std::string command =
        std::string(windres) + " -c 936 -O res -i " + base + ".rc -o " + base + ".res 2>" + base + ".err";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    std::stringstream res;
    res << std::ifstream(base + ".res", std::ios::binary).rdbuf();
    const Bytes theirs = versionFromRes(res.str());
    ASSERT_FALSE(theirs.empty());
    const Bytes ours = compile(script);

    const Node a = parseNode(ours, 0, false), b = parseNode(theirs, 0, false);
    // The fixed part matches but for the structure version (windres: 1.0 as
    // 0x10000) and the flags mask (windres: 0 without FILEFLAGSMASK).
    for (int field : {0, 2, 3, 4, 5, 7, 8, 9, 10, 11, 12}) {
      EXPECT_EQ(u32(a.value, field * 4), u32(b.value, field * 4)) << "field " << field;
    }
    expectSameTree(a, b, "root");
  }
}
#endif

// A minimal PE image: headers, one section of 0x200 raw bytes at 0x200.
Bytes peImage(uint32_t sectionSize = 0x200) {
  Bytes pe(0x200 + sectionSize, '\0');
  pe[0] = 'M', pe[1] = 'Z';
  pe[0x3C] = 0x40;
  pe.replace(0x40, 4, std::string("PE\0\0", 4));
  pe[0x46] = 1;  // one section, no optional header
  const size_t section = 0x40 + 24;
  for (int i = 0; i < 4; ++i) {
    pe[section + 16 + i] = static_cast<char>(sectionSize >> (8 * i));
    pe[section + 20 + i] = static_cast<char>(0x200 >> (8 * i));
  }
  return pe;
}

TEST(ExecutableImageEndTest, FindsTheEndOfTheFurthestSection) {
  EXPECT_EQ(executableImageEnd(peImage()), 0x400u);
  EXPECT_EQ(executableImageEnd(peImage() + "tail"), 0x400u);
  EXPECT_EQ(executableImageEnd(peImage().substr(0, 0x300)), 0u);  // section past the end
  EXPECT_EQ(executableImageEnd("MZ"), 0u);
  Bytes farHeader = peImage();
  farHeader[0x3F] = 0x7F;  // e_lfanew far beyond the file
  EXPECT_EQ(executableImageEnd(farHeader), 0u);
}

TEST(SetVersionInfoTest, AppendedDataSurvivesWhateverTheUpdateDoesToIt) {
  const Bytes tail = Bytes("\0ZUL-mark=\xC5\xE4\xD6\xC3\xB0\xFC" "A\x01zul-2", 21);
  struct Case {
    const char* what;
    std::function<Bytes(const Bytes&)> rewrite;
    Bytes image;  // the image after the updates
  };
  const Case cases[] = {
      {"dropped while the image grows", [](const Bytes&) { return peImage(0x400); }, peImage(0x400)},
      {"dropped, the file shorter", [](const Bytes& b) { return b.substr(0, 0x400); }, peImage()},
      {"kept", [](const Bytes& b) { return b; }, peImage()},
  };
  for (const Case& c : cases) {
    MemoryFileSystem fs;
    fs.files["C:\\a\\uninst.exe"] = peImage() + tail;
    FakeResourceUpdater updater(fs);
    updater.rewrite = c.rewrite;
    EXPECT_TRUE(setVersionInfo(fs, updater, *makeTextCodec(), "C:\\a\\uninst.exe", uninstallerTexts("App"))) << c.what;
    EXPECT_EQ(fs.files["C:\\a\\uninst.exe"], c.image + tail) << c.what;
    ASSERT_EQ(updater.updates.size(), 2u) << c.what;
    EXPECT_TRUE(updater.updates[0].empty()) << c.what;  // the trial
    ASSERT_EQ(updater.updates[1].size(), 1u);
    const ResourceChange& change = updater.updates[1][0];
    EXPECT_EQ(change.type.id, kResourceTypeVersion);
    EXPECT_EQ(change.name.id, 1);
    EXPECT_EQ(change.language, 2052);
    EXPECT_EQ(change.data, compile(fillVersionTemplate(uninstallerTexts("App"))));
  }
}

TEST(SetVersionInfoTest, NothingIsTouchedWhenTheScriptDoesNotCompile) {
  MemoryFileSystem fs;
  fs.files["C:\\a\\uninst.exe"] = peImage() + "tail";
  FakeResourceUpdater updater(fs);
  updater.rewrite = [](const Bytes& b) { return b.substr(0, 0x400); };
  VersionTexts texts;
  texts.productName = Text(40000, 'x');
  EXPECT_FALSE(setVersionInfo(fs, updater, *makeTextCodec(), "C:\\a\\uninst.exe", texts));
  EXPECT_TRUE(updater.updates.empty());
  EXPECT_EQ(fs.files["C:\\a\\uninst.exe"], peImage() + "tail");
}

}  // namespace
}  // namespace zul
