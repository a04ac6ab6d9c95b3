// Real plug-in DLLs loaded and called: every parameter type, both calling
// conventions, events with answers and vetoes, one module per DLL content,
// a DLL that cannot be loaded, and the uninstaller's callback.
#include <windows.h>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>

#include "config/compressed_container.h"
#include "platform/test_support/scratch_folder.h"
#include "platform/win32/wide.h"
#include "plugins/plugin_caller.h"
#include "plugins/plugin_list.h"
#include "plugins/win32/host_callback.h"
#include "plugins/win32/plugin_host_win32.h"

namespace zul {
namespace {

const Text kSep(kPluginEntrySeparator);
const Text kField(kParameterFieldSeparator);
const Text kLine(kParameterLineSeparator);

Text param(std::string_view type, std::string_view value) {
  return "p" + kField + Text(type) + kField + Text(value);
}
Text params(const std::vector<Text>& lines) {
  Text out;
  for (size_t i = 0; i < lines.size(); ++i) out += (i ? kLine : Text()) + lines[i];
  return out;
}
Text ints(std::initializer_list<int> values) {
  std::vector<Text> lines;
  for (int v : values) lines.push_back(param(kTypeInteger, std::to_string(v)));
  return params(lines);
}

struct Plugin {
  Text exportName;
  Text mode;
  Text parameters;
  Bytes dll;
};

class PluginsWin32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    EXPECT_TRUE(win32::secureDllSearchOrder());
    ASSERT_FALSE((recorder = readWholeFile(fs(), ZUL_PROBE_RECORDER)).empty());
    ASSERT_FALSE((veto = readWholeFile(fs(), ZUL_PROBE_VETO)).empty());
    ASSERT_FALSE((silent = readWholeFile(fs(), ZUL_PROBE_SILENT)).empty());
    ASSERT_FALSE((callback = readWholeFile(fs(), ZUL_PROBE_CALLBACK)).empty());
    log = scratch.path() + "plugins.log";
    SetEnvironmentVariableW(L"ZUL_PLUGIN_LOG", win32::toWide(log).c_str());
  }

  FileSystem& fs() { return scratch.fs(); }

  // Writes the two package files into the scratch folder; `compress` stores
  // the library list as a compressed container.
  void writePackage(const std::vector<Plugin>& plugins, bool compress = false) {
    Text descriptors, libraries;
    for (size_t i = 0; i < plugins.size(); ++i) {
      const Plugin& p = plugins[i];
      const Text entry = "DLLname" + p.exportName + "DLLname_endDLLmd" + p.mode + "DLLmd_endDLLparam" +
                         p.parameters + "DLLparam_end";
      descriptors += (i ? kSep : Text()) + entry;
      libraries += (i ? kSep : Text()) + entry + p.dll;
    }
    if (compress) {
      uLongf size = compressBound(libraries.size());
      Bytes stored(8 + size, '\0');
      ASSERT_EQ(compress2(reinterpret_cast<Bytef*>(&stored[8]), &size,
                          reinterpret_cast<const Bytef*>(libraries.data()), libraries.size(), 9),
                Z_OK);
      stored.resize(8 + size);
      const uint32_t n = static_cast<uint32_t>(libraries.size());
      std::memcpy(&stored[0], kContainerMagic.data(), 4);
      std::memcpy(&stored[4], &n, 4);
      libraries = stored;
    }
    ASSERT_TRUE(writeWholeFile(fs(), scratch.path() + "ZULDLL_s.ini", descriptors));
    ASSERT_TRUE(writeWholeFile(fs(), scratch.path() + "ZULDLL.db", libraries));
  }

  std::vector<Text> logLines() {
    std::vector<Text> lines = splitBytes(readWholeFile(fs(), log), "\n");
    if (!lines.empty() && lines.back().empty()) lines.pop_back();
    return lines;
  }

  ScratchFolder scratch;
  win32::Win32PluginHost host;
  PluginCaller caller{fs(), host, pluginFolder(scratch.path())};
  Bytes recorder, veto, silent, callback;
  Text log;
};

TEST_F(PluginsWin32Test, EveryParameterTypeAndBothConventions) {
  EXPECT_EQ(caller.callPluginFunction(recorder, "StdTwo", ints({7, -5}), 0), 695);
  EXPECT_EQ(caller.callPluginFunction(recorder, "CdeclThree", ints({1, 2, 3}), 0), 10203);
  EXPECT_EQ(caller.callPluginFunction(recorder, "Fifteen", ints({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}), 0),
            15);
  // Missing lines are zeros: Fifteen sees a 0 in slot 3.
  EXPECT_EQ(caller.callPluginFunction(recorder, "Fifteen", ints({1, 2}), 0), -3);

  EXPECT_EQ(caller.callPluginFunction(recorder, "TextLength", param(kTypeText, "\xC4\xE3\xBA\xC3"), 0), 4);  // 你好
  EXPECT_EQ(caller.callPluginFunction(recorder, "TextLength", param(kTypeText, ""), 0), -1);  // passed as 0
  const Text bytes = param(kTypeBytes, Text("\x01\0\x7F", 3));
  EXPECT_EQ(caller.callPluginFunction(recorder, "ByteAt", params({bytes, param(kTypeInteger, "2")}), 0), 0x7F);
  EXPECT_EQ(caller.callPluginFunction(recorder, "ByteAt", params({bytes, param(kTypeInteger, "1")}), 0), 0);

  // A kept address still reads after later calls made more copies.
  EXPECT_EQ(caller.callPluginFunction(recorder, "KeepText", param(kTypeText, "kept text"), 0), 0);
  for (int i = 0; i < 50; ++i) (void)caller.callPluginFunction(recorder, "TextLength", param(kTypeText, "x"), 0);
  EXPECT_EQ(caller.callPluginFunction(recorder, "KeptLength", "", 0), 9);

  EXPECT_EQ(caller.callPluginFunction(recorder, "NoSuchExport", "", 0), -1);
  EXPECT_EQ(caller.modules().size(), 1u);  // every call above used one module
}

TEST_F(PluginsWin32Test, LoadTimeCallsAndEventsWithAnswers) {
  for (const bool compressed : {false, true}) {
    SCOPED_TRACE(compressed ? "compressed list" : "plain list");
    PluginCaller run(fs(), host, pluginFolder(scratch.path()));
    DeleteFileW(win32::toWide(log).c_str());
    writePackage({{"Record", "0", ints({1, -5}), recorder},
                  {"Record", "0", ints({2}), veto},
                  {"Record", "1", ints({3}), silent},  // uninstaller only
                  {"Record", "0", ints({4}), silent},
                  {"Record", "", ints({5}), recorder}},  // the same bytes: the same module
                 compressed);
    run.loadPlugins(scratch.path(), RunMode::kInstaller);
    ASSERT_EQ(run.modules().size(), 3u);

    // 消息，整数型，2000 CRLF 参数一，整数型，1 CRLF
    const Text starting =
        "\xCF\xFB\xCF\xA2\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "2000\r\n"
        "\xB2\xCE\xCA\xFD\xD2\xBB\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "1\r\n";
    EXPECT_EQ(run.NotifyPlugins(starting), (std::vector<int32_t>{0, 1, -1}));
    // ，整数型，1003……，整数型，0
    EXPECT_EQ(run.NotifyPlugins("\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "1003\xA1\xAD\xA1\xAD"
                                "\xA3\xAC\xD5\xFB\xCA\xFD\xD0\xCD\xA3\xAC" "-1"),
              (std::vector<int32_t>{0, 0, -1}));

    const std::string zeros13 = " 0 0 0 0 0 0 0 0 0 0 0 0 0";
    EXPECT_EQ(logLines(), (std::vector<Text>{
                              "recorder record 1 -5" + zeros13,
                              "veto record 2 0" + zeros13,
                              "silent record 4 0" + zeros13,
                              "recorder record 5 0" + zeros13,
                              "recorder keso_msg 2000 1" + zeros13,
                              "veto keso_msg 2000 1" + zeros13,
                              "recorder keso_msg 1003 -1" + zeros13,
                              "veto keso_msg 1003 -1" + zeros13,
                          }));
  }
}

TEST_F(PluginsWin32Test, UninstallerLoadsOnlyItsOwnPlugins) {
  writePackage({{"Record", "0", ints({1}), recorder}, {"Record", "1", ints({2}), silent}});
  caller.loadPlugins(scratch.path(), RunMode::kUninstaller);
  EXPECT_EQ(caller.modules().size(), 1u);
  EXPECT_EQ(logLines(), (std::vector<Text>{"silent record 2 0 0 0 0 0 0 0 0 0 0 0 0 0 0"}));
}

TEST_F(PluginsWin32Test, DllThatCannotBeLoadedGivesMinusOne) {
  EXPECT_EQ(caller.callPluginFunction("MZ but not a DLL", "Record", "", 0), -1);
  EXPECT_EQ(caller.callPluginFunction(recorder.substr(0, recorder.size() / 2), "Record", "", 0), -1);
  EXPECT_TRUE(caller.modules().empty());
}

TEST_F(PluginsWin32Test, PluginImportsAreNotTakenFromBesideThePlugin) {
  const Text folder = scratch.path() + "planted\\";
  ASSERT_TRUE(fs().createDirectory(folder));
  ASSERT_TRUE(writeWholeFile(fs(), folder + "importer.dll", readWholeFile(fs(), ZUL_PROBE_IMPORTER)));
  ASSERT_TRUE(writeWholeFile(fs(), folder + "zul_planted_dep.dll", readWholeFile(fs(), ZUL_PLANTED_DEP)));

  EXPECT_EQ(host.loadModule(folder + "importer.dll"), 0u);

  // The files themselves are sound: asked to look beside the DLL, the
  // system loads it.
  const HMODULE control = LoadLibraryExW(win32::toWide(folder + "importer.dll").c_str(), nullptr,
                                         LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32);
  EXPECT_NE(control, nullptr);
}

TEST_F(PluginsWin32Test, CallbackFoundThroughTheDiscoveryWindow) {
  const win32::UniqueWindow hostWindow(CreateWindowExW(0, L"Static", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                                                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
  ASSERT_TRUE(hostWindow);
  const HWND host = hostWindow.get();
  const win32::UniqueWindow discovery = win32::createDiscoveryWindow(host);
  ASSERT_TRUE(discovery);
  EXPECT_EQ(GetParent(discovery.get()), host);
  EXPECT_TRUE(GetWindowLongPtrW(discovery.get(), GWL_EXSTYLE) & WS_EX_TRANSPARENT);
  RECT bounds{};
  GetWindowRect(discovery.get(), &bounds);
  EXPECT_EQ(bounds.right - bounds.left, 0);
  EXPECT_EQ(bounds.bottom - bounds.top, 0);
  // 产品, 版权所有
  win32::setUninstallInfo(host, "\xB2\xFA\xC6\xB7", "1.0", "\xB0\xE6\xC8\xA8\xCB\xF9\xD3\xD0", "C:\\App");
  writePackage({{"UseCallback", "1", param(kTypeText, "data,readme.txt"), callback}});

  caller.loadPlugins(scratch.path(), RunMode::kUninstaller);

  EXPECT_EQ(logLines(), (std::vector<Text>{"callback info host|\xB2\xFA\xC6\xB7|1.0|\xB0\xE6\xC8\xA8\xCB\xF9\xD3\xD0|C:\\App"}));
  EXPECT_EQ(win32::keepList(), (std::vector<Text>{"data", "readme.txt"}));
}

TEST(HostCallbackTest, KeepListCommands) {
  EXPECT_EQ(win32::HostCallback(2002, reinterpret_cast<intptr_t>("a,b"), 0), 0);
  EXPECT_EQ(win32::keepList(), (std::vector<Text>{"a", "b"}));
  EXPECT_EQ(win32::HostCallback(2002, reinterpret_cast<intptr_t>("bin"), 0), 0);  // replaces the list
  EXPECT_EQ(win32::keepList(), (std::vector<Text>{"bin"}));
  EXPECT_EQ(win32::HostCallback(2003, reinterpret_cast<intptr_t>("x"), 0), 0);
  EXPECT_EQ(win32::keepList(), (std::vector<Text>{"bin"}));
  EXPECT_EQ(win32::HostCallback(2002, 0, 0), 0);
  EXPECT_TRUE(win32::keepList().empty());

  win32::setUninstallInfo(nullptr, "n", "v", "f", "d");
  const auto* info = reinterpret_cast<const win32::UninstallInfo*>(win32::HostCallback(2001, 0, 0));
  win32::setUninstallInfo(nullptr, "name", "v", "f", "d");  // the record's address does not move
  EXPECT_STREQ(info->productName, "name");
}

}  // namespace
}  // namespace zul
