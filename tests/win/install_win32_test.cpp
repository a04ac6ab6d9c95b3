// The install steps against the real system under Wine: programs started by
// the package's commands, registry values and scripts, and the version
// resource of a real executable.
#include <windows.h>

#include <gtest/gtest.h>

#include "config/data_block.h"
#include "install/program_runs.h"
#include "install/registry_entries.h"
#include "install/version_resource.h"
#include "platform/test_support/fake_platform.h"
#include "platform/test_support/scratch_folder.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_install_adapters.h"
#include "platform/win32/win32_platform.h"

namespace zul {
namespace {

// The recording program, copied into a folder whose name has a space and
// Chinese characters.
class RecordedRunTest : public ::testing::Test {
 protected:
  RecordedRunTest() {
    folder_ = scratch_.path() + "My \xB3\xCC\xD0\xF2";  // My 程序
    fs().createDirectory(folder_);
    program_ = folder_ + "\\rec.exe";
    EXPECT_TRUE(writeWholeFile(fs(), program_, readWholeFile(fs(), ZUL_RECORD_ARGS_EXE)));
  }
  FileSystem& fs() { return scratch_.fs(); }
  // The lines recorded so far, waiting up to `seconds` for `count` of them.
  std::vector<Text> lines(size_t count, int seconds = 20) {
    std::vector<Text> out;
    for (int i = 0;; ++i) {
      out = splitBytes(readWholeFile(fs(), folder_ + "\\args.txt"), "\r\n");
      if (!out.empty() && out.back().empty()) out.pop_back();
      if (out.size() >= count || i >= seconds * 20) break;
      Sleep(50);
    }
    return out;
  }

  ScratchFolder scratch_;
  Text folder_;
  Text program_;
  win32::Win32ProcessRunner runner_;
};

TEST_F(RecordedRunTest, QuotedFolderWithDriveGoesThroughTheShell) {
  const Text command = "\"" + folder_ + "\"\\rec.exe first \"two words\"";
  ASSERT_TRUE(runCommand(runner_, command, true, true)) << GetLastError();
  const std::vector<Text> got = lines(1, 0);  // waited for: the line is there at once
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].substr(0, 2), "0 ") << got[0];  // SW_HIDE
  EXPECT_NE(got[0].find("rec.exe"), Text::npos) << got[0];
  EXPECT_EQ(got[0].substr(got[0].size() - 18), " first \"two words\"") << got[0];
}

TEST_F(RecordedRunTest, CommandWithoutDriveIsStartedAsWritten) {
  // A relative program name is found in the current folder.
  wchar_t previous[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, previous);
  ASSERT_TRUE(SetCurrentDirectoryW(win32::toWide(folder_).c_str()));
  const Text command = "rec.exe  x \"y z\"";
  EXPECT_TRUE(runCommand(runner_, command, false, false));
  SetCurrentDirectoryW(previous);
  const std::vector<Text> got = lines(1);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0], "1 " + command);  // SW_SHOWNORMAL, the command line untouched
}

TEST_F(RecordedRunTest, MissingProgramFailsWithoutStartingAnything) {
  EXPECT_FALSE(runCommand(runner_, "no_such_program_here.exe a", false, true));
  EXPECT_FALSE(runCommand(runner_, "\"" + folder_ + "\"\\missing.exe", false, true));
  EXPECT_TRUE(lines(0, 0).empty());
}

TEST_F(RecordedRunTest, VersionInfoOnARealExecutableKeepsAppendedDataAndStillRuns) {
  const Bytes tail = Bytes("\0ZUL-mark=\xC5\xE4\xD6\xC3\xB0\xFC" "A\x01zul-2ZUL-mark=\xC5\xE4\xD6\xC3\xB0\xFC" "B\x01", 43);
  ASSERT_TRUE(writeWholeFile(fs(), program_, readWholeFile(fs(), program_) + tail));
  VersionTexts texts;
  texts.company = texts.rightsNotice = "\xD0\xB6\xD4\xD8\xB3\xCC\xD0\xF2";  // 卸载程序
  texts.description = texts.productName = "\xB2\xE2\xCA\xD4 App";       // 测试 App
  win32::Win32ResourceUpdater updater;
  ASSERT_TRUE(setVersionInfo(fs(), updater, *makeTextCodec(), program_, texts));

  const Bytes file = readWholeFile(fs(), program_);
  ASSERT_GT(file.size(), tail.size());
  EXPECT_EQ(file.substr(file.size() - tail.size()), tail);

  const std::wstring path = win32::toWide(program_);
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), nullptr);
  ASSERT_GT(size, 0u);
  std::string info(size, '\0');
  ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, info.data()));
  const auto text = [&](const wchar_t* name) {
    void* value = nullptr;
    UINT length = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\080404B0\\") + name;
    if (!VerQueryValueW(info.data(), query.c_str(), &value, &length)) return std::wstring(L"<missing>");
    return std::wstring(static_cast<const wchar_t*>(value));
  };
  EXPECT_EQ(text(L"CompanyName"), L"\u5378\u8F7D\u7A0B\u5E8F");
  EXPECT_EQ(text(L"LegalCopyright"), L"\u5378\u8F7D\u7A0B\u5E8F");
  EXPECT_EQ(text(L"ProductName"), L"\u6D4B\u8BD5 App");
  EXPECT_EQ(text(L"FileDescription"), L"\u6D4B\u8BD5 App");
  EXPECT_EQ(text(L"FileVersion"), L"");
  void* value = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", &value, &length));
  ASSERT_EQ(length, 4u);
  EXPECT_EQ(std::string(static_cast<const char*>(value), 4), "\x04\x08\xB0\x04");
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", &value, &length));
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  EXPECT_EQ(fixed->dwFileVersionMS, 1u);
  EXPECT_EQ(fixed->dwFileVersionLS, 1010u << 16 | 2020);
  EXPECT_EQ(fixed->dwFileOS, 0x40004u);

  // The language of the resource is 2052.
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_TRUE(module);
  EXPECT_TRUE(FindResourceExW(module, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1), 2052));
  FreeLibrary(module);

  // The edited program still starts.
  ASSERT_TRUE(runCommand(runner_, "\"" + folder_ + "\"\\rec.exe ok", true, true));
  const std::vector<Text> got = lines(1, 0);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].substr(got[0].size() - 3), " ok");
}

// A key of its own under HKEY_CURRENT_USER, removed afterwards.
class RegistryWriteTest : public ::testing::Test {
 protected:
  RegistryWriteTest() : platform_{scratch_.fs(), system_, registry_, ui_} {
    key_ = "Software\\zul_install_test_" + std::to_string(GetCurrentProcessId()) + "\\\xD7\xA2\xB2\xE1";  // 注册
  }
  ~RegistryWriteTest() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, win32::toWide(key_.substr(0, key_.rfind('\\'))).c_str());
  }
  // The raw value as RegGetValue reads it, and its type.
  std::string query(const Text& key, const Text& value, DWORD* type) {
    BYTE data[512];
    DWORD size = sizeof data;
    if (RegGetValueW(HKEY_CURRENT_USER, win32::toWide(key).c_str(), win32::toWide(value).c_str(), RRF_RT_ANY, type,
                     data, &size) != ERROR_SUCCESS) {
      return "<missing>";
    }
    return std::string(reinterpret_cast<char*>(data), size);
  }
  static std::string utf16z(const wchar_t* text) {
    return std::string(reinterpret_cast<const char*>(text), (wcslen(text) + 1) * sizeof(wchar_t));
  }

  ScratchFolder scratch_;
  FakeSystem system_;
  win32::Win32Registry registry_;
  FakeUi ui_;
  Platform platform_;
  win32::Win32ProcessRunner runner_;
  Text key_;
};

TEST_F(RegistryWriteTest, ValuesOfEachKindReadBackThroughTheSystem) {
  const Text path = "HKEY_CURRENT_USER\\" + key_;
  ASSERT_TRUE(writeValue(registry_, path, "\xC3\xFB", "\xD6\xD0\xCE\xC4 text", RegistryValueKind::kText));  // 名 = "中文 text"
  ASSERT_TRUE(writeValue(registry_, path, "", "default", RegistryValueKind::kText));
  ASSERT_TRUE(writeValue(registry_, path, "sub\\Bin", Bytes("\x00\x01\xFF", 3), RegistryValueKind::kBinary));
  ASSERT_TRUE(writeValue(registry_, path, "N", Bytes("\x2A\x00\x00\x80", 4), RegistryValueKind::kNumber));
  EXPECT_FALSE(writeValue(registry_, "hkey_current_user\\" + key_, "x", "y", RegistryValueKind::kText));

  DWORD type = 0;
  EXPECT_EQ(query(key_, "\xC3\xFB", &type), utf16z(L"\u4E2D\u6587 text"));
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(query(key_, "", &type), utf16z(L"default"));
  EXPECT_EQ(query(key_ + "\\sub", "Bin", &type), Bytes("\x00\x01\xFF", 3));
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(query(key_, "N", &type), Bytes("\x2A\x00\x00\x80", 4));
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(query(key_, "x", &type), "<missing>");
}

TEST_F(RegistryWriteTest, ScriptsFollowingEachOtherAreAllImported) {
  const auto entry = [](int i, const Text& type, const Bytes& data) {
    const Text n = std::to_string(i);
    const auto block = [](const Text& name, const Bytes& content) { return name + '\x01' + content + name + "end"; };
    return block("REGtype" + n, type) + block("REGdata" + n, data) + block("REGpath" + n, "HKEY_CURRENT_USER\\x") +
           block("REGoff" + n, "\xD5\xE6");
  };
  const auto script = [&](const Text& value, const Text& data) {
    return "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\" + key_ + "]\r\n\"" + value + "\"=\"" + data + "\"\r\n";
  };
  SetupState state;
  state.makeUninstaller = 1;
  state.registryEntries = "num\x01" "3num" "end" + entry(1, "file", script("First", "1")) +
                          entry(2, "file", script("Second", "2")) + entry(3, "REG_SZ", "three");
  const Text installDir = scratch_.path() + "app";
  scratch_.fs().createDirectory(installDir);
  writeRegistryEntries(platform_, runner_, state, installDir);

  DWORD type = 0;
  EXPECT_EQ(query(key_, "First", &type), utf16z(L"1"));
  EXPECT_EQ(query(key_, "Second", &type), utf16z(L"2"));
  EXPECT_EQ(findDataBlock(readWholeFile(scratch_.fs(), installDir + "\\uninst.ini"), kRegistryRemovalBlock),
            "HKEY_CURRENT_USER\\x\\\r\nHKEY_CURRENT_USER\\x\\\r\nHKEY_CURRENT_USER\\x\\\r\n");
}

}  // namespace
}  // namespace zul
