#include "plugins/plugin_list.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "config/compressed_container.h"

namespace zul {
namespace {

const Text kSep(kPluginEntrySeparator);

Text descriptor(std::string_view name, std::string_view mode, std::string_view params) {
  return "DLLname" + Text(name) + "DLLname_end" + "DLLmd" + Text(mode) + "DLLmd_end" + "DLLparam" + Text(params) +
         "DLLparam_end";
}

Bytes container(std::string_view content) {
  uLongf size = compressBound(content.size());
  Bytes out(8 + size, '\0');
  compress(reinterpret_cast<Bytef*>(&out[8]), &size, reinterpret_cast<const Bytef*>(content.data()), content.size());
  out.resize(8 + size);
  std::memcpy(&out[0], kContainerMagic.data(), 4);
  const uint32_t n = static_cast<uint32_t>(content.size());
  std::memcpy(&out[4], &n, 4);  // little-endian on every machine the tests run on
  return out;
}

TEST(PluginFieldTest, TakesTheBytesBetweenTheFirstStartAndTheNextEnd) {
  struct Case {
    std::string_view entry, expected;
  } cases[] = {
      {"xDLLnameabcDLLname_endDLLname_end", "abc"},
      {"DLLnameDLLname_end", ""},
      {"DLLnameabc", ""},           // no end marker
      {"abcDLLname_end", ""},       // no start marker
      {"DLLname\xBA\xCC" "DLLname_end", "\xBA\xCC"},
  };
  for (const Case& c : cases) EXPECT_EQ(pluginField(c.entry, "DLLname", "DLLname_end"), c.expected) << c.entry;
}

TEST(PluginListTest, PairsDescriptorsWithDllEntriesInOrder) {
  const Text descriptors = descriptor("Start", "0", "p1") + kSep + descriptor(Text("Go\0junk", 7), "1", "") + kSep +
                           descriptor("Third", "", "") + kSep + descriptor("Fourth", "x9", "");
  // The DLL file is everything after the entry's first DLLparam_end, even
  // when it holds the marker again.
  const Text libraries = descriptor("Start", "0", "p1") + "MZ1DLLparam_end" + kSep + "DLLparam_endMZ2" + kSep +
                         "no marker" + kSep + "DLLparam_end";
  std::vector<PluginEntry> entries;
  ASSERT_EQ(parsePluginList(descriptors, libraries, &entries), PluginListStatus::kOk);
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].exportName, "Start");
  EXPECT_EQ(entries[0].mode, 0);
  EXPECT_EQ(entries[0].parameters, "p1");
  EXPECT_EQ(entries[0].dll, "MZ1DLLparam_end");
  EXPECT_EQ(entries[1].exportName, "Go");  // up to the first NUL
  EXPECT_EQ(entries[1].mode, 1);
  EXPECT_EQ(entries[1].dll, "MZ2");
  EXPECT_EQ(entries[2].mode, 0);  // empty mode
  EXPECT_EQ(entries[2].dll, "");
  EXPECT_EQ(entries[3].mode, 0);  // non-numeric mode
  EXPECT_EQ(entries[3].dll, "");
}

TEST(PluginListTest, DllEntriesWithoutDescriptorGetEmptyFields) {
  std::vector<PluginEntry> entries;
  ASSERT_EQ(parsePluginList(descriptor("A", "0", ""), "DLLparam_endX" + kSep + "DLLparam_endY", &entries),
            PluginListStatus::kOk);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].exportName, "");
  EXPECT_EQ(entries[1].dll, "Y");
}

TEST(PluginListTest, EmptyAndOversizedLists) {
  std::vector<PluginEntry> entries{PluginEntry{}};
  EXPECT_EQ(parsePluginList(descriptor("A", "0", ""), "", &entries), PluginListStatus::kEmpty);
  EXPECT_TRUE(entries.empty());

  Text libraries;
  for (size_t i = 0; i <= kMaxPluginEntries; ++i) libraries += "DLLparam_endX" + kSep;
  EXPECT_EQ(parsePluginList("", libraries, &entries), PluginListStatus::kTooManyEntries);
  EXPECT_EQ(entries.size(), kMaxPluginEntries);
}

TEST(PlainLibraryListTest, PlainIsUsedAsItIsAnythingElseIsDecompressed) {
  const Text plain = descriptor("A", "0", "") + "MZ";
  EXPECT_EQ(plainLibraryList(plain), plain);
  EXPECT_EQ(plainLibraryList(container(plain)), plain);
  EXPECT_EQ(plainLibraryList("DLLnam"), "");  // neither plain nor a container
  EXPECT_EQ(plainLibraryList(""), "");
}

TEST(PluginFolderTest, BelowTheTemporaryFolderNeverRelative) {
  EXPECT_EQ(pluginFolder("C:\\Temp\\"), "C:\\Temp\\zul_dll");
  EXPECT_EQ(pluginFolder("C:\\Temp"), "C:\\Temp\\zul_dll");
  EXPECT_EQ(pluginFolder(""), "");
}

}  // namespace
}  // namespace zul
