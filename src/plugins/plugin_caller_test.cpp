#include "plugins/plugin_caller.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>

#include "config/memory_file_system.h"
#include "platform/crypto.h"
#include "plugins/plugin_list.h"

namespace zul {
namespace {

using Exported = std::function<int32_t(const ArgumentSlots&)>;

// Loads "DLLs" by the content of the file at the path: each known content
// has its own exports. Records what happened.
class FakeHost : public PluginHost {
 public:
  explicit FakeHost(MemoryFileSystem& fs) : fs_(fs) {}

  std::map<Bytes, std::map<Text, Exported>> dlls;  // content -> exports
  int failLoads = 0;                               // the next loads that fail
  std::vector<Text> loaded;                        // paths, per successful load
  int attempts = 0;
  int pauses = 0;

  Module loadModule(const Text& path) override {
    ++attempts;
    if (failLoads > 0) return --failLoads, 0;
    const auto file = fs_.files.find(path);
    if (file == fs_.files.end() || !dlls.count(file->second)) return 0;
    loaded.push_back(path);
    modules_.push_back(&dlls[file->second]);
    return modules_.size();
  }
  Export findExport(Module module, const Text& name) override {
    auto& exports = *modules_.at(module - 1);
    const auto it = exports.find(name);
    return it == exports.end() ? 0 : reinterpret_cast<Export>(&it->second);
  }
  int32_t call(Export proc, const ArgumentSlots& arguments) override {
    return (*reinterpret_cast<Exported*>(proc))(arguments);
  }
  void pause(uint32_t) override { ++pauses; }

 private:
  MemoryFileSystem& fs_;
  std::vector<std::map<Text, Exported>*> modules_;
};

const Text kDataDir = "D:\\data\\";
const Text kFolder = "T:\\Temp\\zul_dll";
const Text kSep(kPluginEntrySeparator);

Text integerLine(int value) {
  return Text(kParameterFieldSeparator) + Text(kTypeInteger) + Text(kParameterFieldSeparator) + std::to_string(value);
}

struct Plugin {
  Text exportName;
  Text mode;
  Text parameters;
  Bytes dll;
};

void writePackage(MemoryFileSystem& fs, const std::vector<Plugin>& plugins) {
  Text descriptors, libraries;
  for (size_t i = 0; i < plugins.size(); ++i) {
    const Plugin& p = plugins[i];
    const Text entry = "DLLname" + p.exportName + "DLLname_endDLLmd" + p.mode + "DLLmd_endDLLparam" + p.parameters +
                       "DLLparam_end";
    descriptors += (i ? kSep : Text()) + entry;
    libraries += (i ? kSep : Text()) + entry + p.dll;
  }
  fs.files[kDataDir + "ZULDLL_s.ini"] = descriptors;
  fs.files[kDataDir + "ZULDLL.db"] = libraries;
}

class PluginCallerTest : public ::testing::Test {
 protected:
  MemoryFileSystem fs;
  FakeHost host{fs};
  PluginCaller caller{fs, host, kFolder};
  std::vector<Text> calls;  // "dll:export:first argument"

  Exported recorder(const Text& tag, int32_t result = 0) {
    return [this, tag, result](const ArgumentSlots& a) {
      calls.push_back(tag + ":" + std::to_string(static_cast<int32_t>(a[0])));
      return result;
    };
  }
};

TEST_F(PluginCallerTest, LoadsEveryPluginOfTheRunModeByContentName) {
  host.dlls["MZ-a"] = {{"StartA", recorder("a.StartA")}, {"keso_msg", recorder("a.keso")}};
  host.dlls["MZ-b"] = {{"StartB", recorder("b.StartB")}};
  host.dlls["MZ-u"] = {{"StartU", recorder("u.StartU")}};
  writePackage(fs, {{"StartA", "0", integerLine(7), "MZ-a"},
                    {"StartU", "1", "", "MZ-u"},
                    {"StartB", "", integerLine(-5), "MZ-b"},
                    // the same bytes again: one module, both load-time exports run in it
                    {"keso_msg", "0", integerLine(9), "MZ-a"}});

  caller.loadPlugins(kDataDir, RunMode::kInstaller);

  EXPECT_EQ(calls, (std::vector<Text>{"a.StartA:7", "b.StartB:-5", "a.keso:9"}));
  ASSERT_EQ(caller.modules().size(), 2u);
  EXPECT_EQ(caller.modules()[0].path, kFolder + "\\" + md5Hex("MZ-a") + ".dll");
  EXPECT_EQ(caller.modules()[1].path, kFolder + "\\" + md5Hex("MZ-b") + ".dll");
  EXPECT_EQ(host.loaded.size(), 2u);
  EXPECT_EQ(fs.files[caller.modules()[0].path], "MZ-a");
}

TEST_F(PluginCallerTest, UninstallerLoadsOnlyModeOne) {
  host.dlls["MZ-a"] = {{"StartA", recorder("a")}};
  host.dlls["MZ-u"] = {{"StartU", recorder("u")}};
  writePackage(fs, {{"StartA", "0", "", "MZ-a"}, {"StartU", "1", "", "MZ-u"}});
  caller.loadPlugins(kDataDir, RunMode::kUninstaller);
  EXPECT_EQ(calls, (std::vector<Text>{"u:0"}));

  PluginCaller none(fs, host, kFolder);
  none.loadPlugins(kDataDir, RunMode::kNone);
  EXPECT_TRUE(none.modules().empty());
}

TEST_F(PluginCallerTest, EventsReachEveryModuleInLoadOrder) {
  host.dlls["MZ-a"] = {{"S", recorder("a.S")}, {"keso_msg", recorder("a", 1)}};
  host.dlls["MZ-b"] = {{"S", recorder("b.S")}};  // no keso_msg
  host.dlls["MZ-c"] = {{"S", recorder("c.S")}, {"keso_msg", recorder("c", 0)}};
  writePackage(fs, {{"S", "0", "", "MZ-a"}, {"S", "0", "", "MZ-b"}, {"S", "0", "", "MZ-c"}});
  caller.loadPlugins(kDataDir, RunMode::kInstaller);
  calls.clear();

  // 消息，整数型，2000 CRLF 参数一，整数型，1 CRLF
  const std::vector<int32_t> answers = caller.NotifyPlugins(
      "\xCF\xFB\xCF\xA2\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "2000\r\n"
      "\xB2\xCE\xCA\xFD\xD2\xBB\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "1\r\n");
  EXPECT_EQ(answers, (std::vector<int32_t>{1, -1, 0}));
  EXPECT_EQ(calls, (std::vector<Text>{"a:2000", "c:2000"}));
  EXPECT_EQ(host.loaded.size(), 3u);  // events reuse the modules
}

TEST_F(PluginCallerTest, NoPluginsWithoutALibraryList) {
  host.dlls["MZ-a"] = {{"S", recorder("a")}};
  writePackage(fs, {{"S", "0", "", "MZ-a"}});
  fs.files[kDataDir + "ZULDLL.db"] = "garbage that is not a container";
  caller.loadPlugins(kDataDir, RunMode::kInstaller);
  EXPECT_TRUE(calls.empty());
  EXPECT_TRUE(caller.NotifyPlugins("\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "1001").empty());

  // No temporary folder: nothing is written anywhere.
  MemoryFileSystem otherFs;
  writePackage(otherFs, {{"S", "0", "", "MZ-a"}});
  PluginCaller homeless(otherFs, host, pluginFolder(""));
  homeless.loadPlugins(kDataDir, RunMode::kInstaller);
  EXPECT_EQ(otherFs.files.size(), 2u);
  EXPECT_TRUE(calls.empty());
}

TEST_F(PluginCallerTest, RefusedDllGivesMinusOneAfterBoundedAttempts) {
  // Bytes no host loads: the attempts end and the call fails.
  EXPECT_EQ(caller.callPluginFunction("not a dll", "S", "", 0), -1);
  EXPECT_EQ(host.attempts, kLoadAttempts);
  EXPECT_EQ(host.pauses, kLoadAttempts - 1);
  EXPECT_TRUE(caller.modules().empty());

  // A DLL refused twice, then accepted, loads.
  host.dlls["MZ-a"] = {{"S", recorder("a", 3)}};
  host.failLoads = 2;
  EXPECT_EQ(caller.callPluginFunction("MZ-a", "S", "", 0), 3);
  // Missing export, and no DLL at all.
  EXPECT_EQ(caller.callPluginFunction("MZ-a", "Missing", "", 0), -1);
  EXPECT_EQ(caller.callPluginFunction("", "S", "", 0), -1);
}

TEST_F(PluginCallerTest, FileThatCannotBeReplacedIsUsedOnlyWithTheSameBytes) {
  host.dlls["MZ-a"] = {{"S", recorder("a", 5)}};
  host.dlls["MZ-planted"] = {{"S", recorder("planted", 6)}};
  const Text path = kFolder + "\\" + md5Hex("MZ-a") + ".dll";
  fs.failCreate = true;

  fs.files[path] = "MZ-planted";
  EXPECT_EQ(caller.callPluginFunction("MZ-a", "S", "", 0), -1);
  fs.files[path] = "MZ-a";
  EXPECT_EQ(caller.callPluginFunction("MZ-a", "S", "", 0), 5);
  EXPECT_EQ(calls, (std::vector<Text>{"a:0"}));
}

class PlantedFolderTest : public ::testing::Test {
 protected:
  PlantedFileSystem fs;
  FakeHost host{fs};
  PluginCaller caller{fs, host, kFolder};
  const Text dllPath = kFolder + "\\" + md5Hex("MZ-a") + ".dll";

  void SetUp() override { host.dlls["MZ-a"] = {{"S", [](const ArgumentSlots&) { return 5; }}}; }
};

TEST_F(PlantedFolderTest, ClearingRemovesOnlyPlainFilesDirectlyInside) {
  fs.folders = {kFolder, kFolder + "\\sub"};
  fs.files = {{kFolder + "\\left.dll", "old"},
              {kFolder + "\\sub\\elsewhere.dll", "keep"},
              {kFolder + "\\linked.dll", "keep"}};
  fs.links = {kFolder + "\\sub", kFolder + "\\linked.dll"};
  EXPECT_EQ(caller.callPluginFunction("MZ-a", "S", "", 0), 5);
  EXPECT_EQ(fs.files, (std::map<Text, Bytes>{{kFolder + "\\sub\\elsewhere.dll", "keep"},
                                             {kFolder + "\\linked.dll", "keep"},
                                             {dllPath, "MZ-a"}}));
}

TEST_F(PlantedFolderTest, ALinkedPluginFolderIsReplacedBeforeAnythingIsWritten) {
  fs.folders = {kFolder};
  fs.links = {kFolder};
  fs.files = {{kFolder + "\\victim.dll", "theirs"}};
  EXPECT_EQ(caller.callPluginFunction("MZ-a", "S", "", 0), 5);
  EXPECT_EQ(fs.outside, (std::map<Text, Bytes>{{kFolder + "\\victim.dll", "theirs"}}));
  EXPECT_EQ(fs.files, (std::map<Text, Bytes>{{dllPath, "MZ-a"}}));
  EXPECT_TRUE(fs.links.empty());
}

TEST_F(PlantedFolderTest, ALinkThatStaysMeansNoDllIsWritten) {
  fs.folders = {kFolder};
  fs.links = {kFolder};
  fs.linksStay = true;
  fs.files = {{kFolder + "\\victim.dll", "theirs"}};
  EXPECT_EQ(caller.callPluginFunction("MZ-a", "S", "", 0), -1);
  EXPECT_EQ(host.attempts, 0);
  EXPECT_EQ(fs.files, (std::map<Text, Bytes>{{kFolder + "\\victim.dll", "theirs"}}));
}

}  // namespace
}  // namespace zul
