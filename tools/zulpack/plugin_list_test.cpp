#include "plugin_list.h"

#include <gtest/gtest.h>
#include <iconv.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "config/compressed_container.h"
#include "plugins/plugin_arguments.h"
#include "plugins/plugin_list.h"
#include "test_host_files.h"

namespace zul::pack {
namespace {

using test_files::writeHost;

namespace fs = std::filesystem;

// UTF-8 to GBK through the C library, independently of the tool's converter.
std::string gbk(std::string_view utf8) {
  iconv_t cd = iconv_open("GBK", "UTF-8");
  std::string out(utf8.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size(), outLeft = out.size();
  char* dst = out.data();
  EXPECT_NE(iconv(cd, &in, &inLeft, &dst, &outLeft), static_cast<size_t>(-1)) << utf8;
  iconv_close(cd);
  return out.substr(0, dst - out.data());
}

void put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
void put16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v);
  s[at + 1] = static_cast<char>(v >> 8);
}

// A minimal PE DLL (PE32, or PE32+ when `wide`) with one section holding an
// export directory that names `exports`. `characteristics` lets a test make
// it an executable instead.
std::string makeDll(const std::vector<std::string>& exports, bool wide = false, uint16_t characteristics = 0x2102) {
  const size_t pe = 0x40, optionalSize = wide ? 240 : 224, table = pe + 24 + optionalSize;
  const uint32_t raw = 0x200, va = 0x1000;
  std::string image(raw, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  put32(image, 0x3C, pe);
  image.replace(pe, 4, std::string("PE\0\0", 4));
  put16(image, pe + 4, wide ? 0x8664 : 0x14C);
  put16(image, pe + 6, 1);
  put16(image, pe + 20, optionalSize);
  put16(image, pe + 22, characteristics);
  const size_t optional = pe + 24;
  put16(image, optional, wide ? 0x20B : 0x10B);
  put32(image, optional + (wide ? 108 : 92), 16);
  // .edata: directory, name RVAs, ordinals, names.
  std::string section(40, '\0');
  const uint32_t namesRva = va + 40, ordinalsRva = namesRva + 4 * exports.size();
  uint32_t textRva = ordinalsRva + 2 * exports.size();
  put32(section, 24, exports.size());
  put32(section, 32, namesRva);
  put32(section, 36, ordinalsRva);
  std::string pointers, texts;
  for (const std::string& e : exports) {
    pointers.resize(pointers.size() + 4);
    put32(pointers, pointers.size() - 4, textRva + texts.size());
    texts += e + '\0';
  }
  section += pointers + std::string(2 * exports.size(), '\0') + texts + std::string(64, 'x');
  put32(image, optional + (wide ? 112 : 96), va);
  put32(image, optional + (wide ? 116 : 100), 40);
  image.replace(table, 8, ".edata\0\0", 8);
  put32(image, table + 8, section.size());
  put32(image, table + 12, va);
  put32(image, table + 16, section.size());
  put32(image, table + 20, raw);
  return image + section;
}

class PluginListTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("zulpack_plugins_" + std::to_string(getpid()));
    fs::remove_all(root_);
    writeHost(root_ / "plugins/recorder.dll", makeDll({"Other", "Record"}));
    writeHost(root_ / "plugins/sub/wide.dll", makeDll({"Wide"}, true));
  }
  void TearDown() override { fs::remove_all(root_); }

  void writeList(std::string_view text) { writeHost(root_ / "plugins/plugins.ini", text); }

  // addPlugins' result: the two files' contents, or the error.
  bool build(std::string* descriptors, std::string* library, std::string* error) {
    std::vector<ArchiveEntry> config;
    if (!addPlugins(root_, &config, error)) {
      EXPECT_TRUE(config.empty());
      return false;
    }
    if (config.empty()) return true;
    EXPECT_EQ(config.size(), 2u);
    EXPECT_EQ(config[0].name, "ZULDLL_s.ini");
    EXPECT_EQ(config[1].name, "ZULDLL.db");
    *descriptors = config[0].data;
    *library = config[1].data;
    return true;
  }

  // Read back the way the stub reads the two files.
  std::vector<PluginEntry> readBack(const std::string& descriptors, const std::string& library) {
    std::vector<PluginEntry> entries;
    EXPECT_EQ(parsePluginList(descriptors, plainLibraryList(library), &entries), PluginListStatus::kOk);
    return entries;
  }

  fs::path root_;
};

constexpr std::string_view kList =
    "; one section per plug-in, called in this order\n"
    "[settings]\n"
    "compress = %s\n"
    "[录音插件]\n"
    "file = recorder.dll          ; the DLL\n"
    "export = Record\n"
    "mode = install\n"
    "param = 整数型:-5\n"
    "名字 = 文本型:你好\n"
    "数据 = 字节集:hex 01 02 ff\n"
    "空 = text:\n"
    "引号 = 文本型:\"a ; b\"   ; quoted\n"
    "[卸载时]\n"
    "# wide DLL, uninstall mode\n"
    "file = sub/wide.dll\n"
    "EXPORT = Wide\n"
    "Mode = uninstall\n"
    "[同一个]\n"
    "file = recorder.dll\n"
    "export = Other\n";

std::string listWith(std::string_view compress) {
  std::string text(kList);
  text.replace(text.find("%s"), 2, compress);
  return text;
}

TEST_F(PluginListTest, CompiledListsReadBackThroughTheStubsReaderPlainAndCompressed) {
  for (std::string_view compress : {"no", "yes"}) {
    SCOPED_TRACE(compress);
    writeList(listWith(compress));
    std::string descriptors, library, error;
    ASSERT_TRUE(build(&descriptors, &library, &error)) << error;
    if (compress == "no") {
      EXPECT_EQ(library.substr(0, 7), "DLLname");
    } else {
      EXPECT_EQ(library.substr(0, 4), std::string("\x0D\x0F\x3E\x03", 4));
      Bytes plain;
      ASSERT_EQ(decompressContainer(library, &plain), ContainerStatus::kOk);
      EXPECT_EQ(static_cast<uint8_t>(library[4]) | static_cast<uint8_t>(library[5]) << 8, plain.size() & 0xFFFF);
    }

    // The descriptor bytes, spelled out.
    const std::string separator = gbk("禾弋DLL分割标记"), line = gbk("\r\nDLL标记$"), field = gbk("$参数，");
    const std::string first = "DLLnameRecordDLLname_endDLLmd0DLLmd_endDLLparam" + gbk("参数1") + field +
                              gbk("整数型") + field + "-5" + line + gbk("名字") + field + gbk("文本型") + field +
                              gbk("你好") + line + gbk("数据") + field + gbk("字节集") + field +
                              std::string("\x01\x02\xFF") + line + gbk("空") + field + gbk("文本型") + field + line +
                              gbk("引号") + field + gbk("文本型") + field + "a ; b" + "DLLparam_end";
    EXPECT_EQ(descriptors, first + separator + "DLLnameWideDLLname_endDLLmd1DLLmd_endDLLparamDLLparam_end" +
                               separator + "DLLnameOtherDLLname_endDLLmd0DLLmd_endDLLparamDLLparam_end");

    const auto entries = readBack(descriptors, library);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].exportName, "Record");
    EXPECT_EQ(entries[0].mode, 0);
    EXPECT_EQ(entries[0].dll, makeDll({"Other", "Record"}));
    EXPECT_EQ(entries[1].exportName, "Wide");
    EXPECT_EQ(entries[1].mode, 1);
    EXPECT_EQ(entries[1].dll, makeDll({"Wide"}, true));
    EXPECT_EQ(entries[2].exportName, "Other");
    EXPECT_EQ(entries[2].dll, entries[0].dll);

    // The arguments the stub passes for the first plug-in.
    ArgumentStore store;
    const ArgumentSlots slots = store.fill(entries[0].parameters);
    EXPECT_EQ(static_cast<int32_t>(slots[0]), -5);
    ASSERT_NE(slots[1], 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(slots[1])), gbk("你好"));
    ASSERT_NE(slots[2], 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(slots[2]), 3), "\x01\x02\xFF");
    EXPECT_EQ(slots[3], 0u) << "an empty text is passed as 0";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(slots[4])), "a ; b");
    for (size_t i = 5; i < kArgumentSlots; ++i) EXPECT_EQ(slots[i], 0u);
  }
}

TEST_F(PluginListTest, GbkAndUtf8ListsGiveTheSameFiles) {
  writeList(listWith("yes"));
  std::string d1, l1, d2, l2, error;
  ASSERT_TRUE(build(&d1, &l1, &error)) << error;
  writeList(gbk(listWith("yes")));
  ASSERT_TRUE(build(&d2, &l2, &error)) << error;
  EXPECT_EQ(d1, d2);
  EXPECT_EQ(l1, l2);
}

TEST_F(PluginListTest, FifteenIntegerParametersFillEverySlot) {
  std::string text = "[p]\nfile = recorder.dll\nexport = Record\n";
  for (int i = 1; i <= 15; ++i) text += "param = int:" + std::to_string(i == 15 ? INT32_MIN : i) + "\n";
  writeList(text);
  std::string descriptors, library, error;
  ASSERT_TRUE(build(&descriptors, &library, &error)) << error;
  ArgumentStore store;
  const ArgumentSlots slots = store.fill(readBack(descriptors, library).at(0).parameters);
  for (int i = 0; i < 14; ++i) EXPECT_EQ(static_cast<int32_t>(slots[i]), i + 1);
  EXPECT_EQ(static_cast<int32_t>(slots[14]), INT32_MIN);
}

TEST_F(PluginListTest, NoPluginFolderOrAnEmptyListAddsNothing) {
  std::string descriptors, library, error;
  fs::remove_all(root_ / "plugins");
  EXPECT_TRUE(build(&descriptors, &library, &error)) << error;
  writeList("; nothing yet\n[settings]\ncompress = no\n");
  EXPECT_TRUE(build(&descriptors, &library, &error)) << error;
  EXPECT_TRUE(descriptors.empty() && library.empty());
}

TEST_F(PluginListTest, MistakesNameTheFileTheLineAndTheReason) {
  writeHost(root_ / "plugins/notes.txt", "not a DLL");
  writeHost(root_ / "plugins/program.exe", makeDll({"Record"}, false, 0x0102));
  writeHost(root_ / "plugins/cut.dll", makeDll({"Record"}).substr(0, 0x50));
  writeHost(root_ / "plugins/marked.dll", makeDll({"Record"}) + gbk("禾弋DLL分割标记"));
  writeHost(root_ / "plugins/companion.dll", makeDll({"Record"}) + gbk("#！★！#"));
  const std::string ok = "[p]\nfile = recorder.dll\nexport = Record\n";
  std::string sixteen = ok;
  for (int i = 0; i < 16; ++i) sixteen += "param = int:1\n";
  const struct {
    std::string list;
    std::string expected;  // after "plugins.ini:"
  } cases[] = {
      {"[p]\nfile = missing.dll\nexport = Record\n", "2: " + (root_ / "plugins/missing.dll").string() + ": missing"},
      {"[p]\nfile = notes.txt\nexport = Record\n", "2: " + (root_ / "plugins/notes.txt").string() + ": not a PE DLL"},
      {"[p]\nfile = program.exe\nexport = Record\n", "2: " + (root_ / "plugins/program.exe").string() + ": not a PE"},
      {"[p]\nfile = cut.dll\nexport = Record\n", "2: " + (root_ / "plugins/cut.dll").string() + ": not a PE DLL"},
      {"[p]\nfile = recorder.dll\nexport = Missing\n", "3: " + (root_ / "plugins/recorder.dll").string() +
                                                           " does not export Missing"},
      {"[p]\nfile = marked.dll\nexport = Record\n", "2: " + (root_ / "plugins/marked.dll").string() + ": holds"},
      {"[settings]\ncompress = no\n[p]\nfile = companion.dll\nexport = Record\n",
       "4: " + (root_ / "plugins/companion.dll").string() + ": holds the uninstaller's companion separator"},
      {ok + "x = text:a#！★！#\n", "4: the parameter holds the uninstaller's companion separator"},
      {sixteen, "19: more than 15 parameters"},
      {ok + "x = 浮点型:1\n", "4: unknown type '浮点型'"},
      {ok + "x = 1\n", "4: expected type:value"},
      {ok + "x = 整数型:12a\n", "4: bad integer '12a'"},
      {ok + "x = int:2147483648\n", "4: bad integer"},
      {ok + "x = int:\n", "4: bad integer"},
      {ok + "x = bytes:hex 0g\n", "4: bad hex 'hex 0g'"},
      {ok + "x = bytes:012\n", "4: bad hex"},
      {ok + "mode = later\n", "4: unknown mode 'later'"},
      {ok + "export = Other\n", "4: export given twice"},
      {ok + "x = text:a$参数，b\n", "4: the parameter holds the parameter field separator"},
      {ok + "x = text:DLLparam_end\n", "4: the parameter holds the marker DLLparam_end"},
      {"[p]\nfile = recorder.dll\nexport = RecordDLLmd\n", "3: the export name holds the marker DLLmd"},
      {"[p]\nexport = Record\n", "1: [p] has no file"},
      {"[p]\nfile = recorder.dll\n", "1: [p] has no export"},
      {"file = recorder.dll\n", "1: a key before the first"},
      {"[p\n", "1: expected [name]"},
      {"[settings]\ncompress = maybe\n", "2: compress must be yes or no"},
      {ok + "名字 = 文本型:\xE2\x82\xAC\xF0\x9F\x98\x80\n", "line 4: a character that GBK cannot hold"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    writeList(c.list);
    std::string descriptors, library, error;
    EXPECT_FALSE(build(&descriptors, &library, &error));
    EXPECT_NE(error.find("plugins.ini"), std::string::npos) << error;
    EXPECT_NE(error.find(c.expected), std::string::npos) << error;
  }
}

// The uninstaller stores the list in a block split at "#！★！#": a DLL
// holding it can only be listed compressed.
TEST_F(PluginListTest, ADllHoldingTheCompanionSeparatorIsListedCompressed) {
  writeHost(root_ / "plugins/companion.dll", makeDll({"Record"}) + gbk("#！★！#"));
  writeList("[p]\nfile = companion.dll\nexport = Record\n");
  std::string descriptors, library, error;
  ASSERT_TRUE(build(&descriptors, &library, &error)) << error;
  EXPECT_EQ(library.find(gbk("#！★！#")), std::string::npos);
  EXPECT_EQ(readBack(descriptors, library).at(0).dll, makeDll({"Record"}) + gbk("#！★！#"));
}

// The DLL check reads offsets from the file: every cut and every flipped
// byte of a good image is refused cleanly or accepted, never read out of
// bounds (run under the sanitizer build to see the difference).
TEST_F(PluginListTest, DamagedDllsAreRefusedWithoutReadingOutsideTheImage) {
  writeList("[p]\nfile = damaged.dll\nexport = Record\n");
  const std::string good = makeDll({"Other", "Record"}, true);
  std::string descriptors, library, error;
  for (size_t size = 0; size < good.size(); ++size) {
    writeHost(root_ / "plugins/damaged.dll", good.substr(0, size));
    EXPECT_FALSE(build(&descriptors, &library, &error)) << size;
  }
  for (size_t at = 0; at < good.size(); ++at) {
    std::string damaged = good;
    damaged[at] = static_cast<char>(damaged[at] ^ 0xFF);
    writeHost(root_ / "plugins/damaged.dll", damaged);
    if (!build(&descriptors, &library, &error)) {
      EXPECT_TRUE(error.find("not a PE DLL") != std::string::npos || error.find("does not export") != std::string::npos)
          << at << ": " << error;
    }
  }
}

TEST_F(PluginListTest, AListInTheConfigFolderConflicts) {
  writeList("[p]\nfile = recorder.dll\nexport = Record\n");
  std::vector<ArchiveEntry> config(1);
  config[0].name = "zuldll.db";
  std::string error;
  EXPECT_FALSE(addPlugins(root_, &config, &error));
  EXPECT_NE(error.find("ZULDLL.db: conflicts"), std::string::npos) << error;
  EXPECT_EQ(config.size(), 1u);
}

TEST_F(PluginListTest, MissingListIsAnError) {
  std::vector<ArchiveEntry> config;
  std::string error;
  EXPECT_FALSE(addPlugins(root_, &config, &error));
  EXPECT_NE(error.find("plugins.ini: missing"), std::string::npos) << error;
}

}  // namespace
}  // namespace zul::pack
