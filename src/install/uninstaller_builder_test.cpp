#include "install/uninstaller_builder.h"

#include <gtest/gtest.h>

#include "config/data_block.h"
#include "config/ini_file.h"
#include "install/uninstall_record.h"
#include "platform/test_support/fake_install_adapters.h"
#include "platform/test_support/fake_platform.h"
#include "platform/test_support/scratch_folder.h"
#include "startup/setup_package.h"

namespace zul {
namespace {

namespace record = uninstall_record;
const Text kComma = "\xA3\xAC";  // ，

class UninstallerBuilderTest : public ::testing::Test {
 protected:
  UninstallerBuilderTest()
      : platform_{scratch_.fs(), system_, registry_, ui_},
        resources_(scratch_.fs()),
        codec_(makeTextCodec()),
        services_{platform_, resources_, *codec_, processes_, [this](const Text& line) { lines_.push_back(line); }} {
    system_.path = scratch_.path() + "setup.exe";
    // The running setup file: stub, then the package's sections.
    writeWholeFile(fs(), system_.path, Bytes("MZ-stub-image") + sectionBlockHead(kPackageModeOpen) + "zul-1" +
                                           sectionBlockTail(kPackageModeClose) + sectionBlockHead(kPayloadOpen) +
                                           "payload" + sectionBlockTail(kPayloadClose));
    state_.installDir = scratch_.path() + "App";
    fs().createDirectory(state_.installDir);
    state_.productName = "P";
    state_.productVersion = "2.0";
    state_.mainProgramName = "p.exe";
    state_.companyName = "Co";
    state_.smallInterfaceImage = "small";
    state_.uninstallerData = "companions";
    state_.shortcutList = {
        {"Run", "p.exe", "", "c:\\Desk\\" + kComma + "D:\\Group", true, "", ""},
        {"Keep", "p.exe", "", "C:\\Desk", false, "", ""},
        {"Doc.lnk", "d.txt", "", "C:\\Menu", true, "", ""},
    };
  }
  FileSystem& fs() { return scratch_.fs(); }
  Text key(std::string_view name) {
    return readProfileString(fs(), state_.installDir + "\\uninst.ini", Text(record::kSection), Text(name));
  }
  Text registration(const char* value) {
    return registry_.readString(RegistryRoot::kLocalMachine, Text(record::kRegistrationKey) + "P", value);
  }

  ScratchFolder scratch_;
  FakeSystem system_;
  FakeRegistry registry_;
  FakeUi ui_;
  Platform platform_;
  FakeResourceUpdater resources_;
  FakeProcessRunner processes_;
  std::unique_ptr<TextCodec> codec_;
  UninstallerServices services_;
  SetupState state_;
  std::vector<Text> lines_;
};

TEST_F(UninstallerBuilderTest, RecordRegistrationAndProgram) {
  Text files = scratch_.path() + "App\\p.exe\r\n";
  generateUninstaller(services_, state_, files);

  EXPECT_EQ(key(record::kProductName), "P");
  EXPECT_EQ(key(record::kProductVersion), "2.0");
  EXPECT_EQ(key(record::kMainProgram), "p.exe");
  EXPECT_EQ(key(record::kInstallFolder), state_.installDir);
  EXPECT_EQ(key(record::kShortcutCount), "3");
  EXPECT_EQ(key(Text(record::kShortcutPrefix) + "1"), "C:\\Desk\\Run.lnk" + kComma + "D:\\Group\\Run.lnk" + kComma);
  EXPECT_EQ(key(Text(record::kShortcutPrefix) + "2"), "");
  EXPECT_EQ(key(Text(record::kShortcutPrefix) + "3"), "C:\\Menu\\Doc.lnk.lnk" + kComma);

  const Text uninstaller = state_.installDir + "\\uninst.exe";
  EXPECT_EQ(registration("UninstallString"), uninstaller);
  EXPECT_EQ(registration("QuietUninstallString"), "\"" + uninstaller + "\" -hp");
  EXPECT_EQ(registration("DisplayName"), "P 2.0");
  EXPECT_EQ(registration("DisplayIcon"), state_.installDir + "\\p.exe");
  EXPECT_EQ(registration("Publisher"), "Co");
  EXPECT_EQ(registry_.readBinary(RegistryRoot::kLocalMachine, Text(record::kRegistrationKey) + "P",
                                 Text(record::kSmallImageValue)),
            "small");

  // The stub part, marked as an uninstaller; the companion data as resource.
  const Bytes program = readWholeFile(fs(), uninstaller);
  EXPECT_EQ(program, Bytes("MZ-stub-image") + sectionBlockHead(kPackageModeOpen) + "zul-2" +
                         sectionBlockTail(kPackageModeClose));
  bool companions = false;
  for (const auto& update : resources_.updates) {
    for (const auto& change : update) {
      if (change.type.text == "UNINST_DAT" && change.name.id == 103) companions = change.data == "companions";
    }
  }
  EXPECT_TRUE(companions);

  // Every installed file, then the record and the uninstaller themselves.
  const Bytes list = findDataBlock(readWholeFile(fs(), state_.installDir + "\\uninst.ini"), record::kFileListBlock);
  EXPECT_EQ(list, scratch_.path() + "App\\p.exe\r\n" + state_.installDir + "\\uninst.ini\r\n" + uninstaller);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0], "\xB4\xB4\xBD\xA8\xD0\xB6\xD4\xD8\xB3\xCC\xD0\xF2 :" + uninstaller);
  EXPECT_TRUE(processes_.runs.empty()) << "no packer in this package";
}

TEST_F(UninstallerBuilderTest, IconGroupReplacesImagesFromOne) {
  // An icon file with three images of 4, 5 and 6 bytes.
  Bytes ico("\0\0\1\0\3\0", 6);
  Bytes images;
  for (int i = 0; i < 3; ++i) {
    Bytes entry(16, '\0');
    entry[0] = static_cast<char>(16 << i);
    entry[8] = static_cast<char>(4 + i);
    entry[12] = static_cast<char>(6 + 3 * 16 + images.size());
    ico += entry;
    images += Bytes(4 + i, static_cast<char>('a' + i));
  }
  ico += images;
  ASSERT_TRUE(writeWholeFile(fs(), scratch_.path() + "u.ico", ico));
  EXPECT_EQ(replaceIconGroup(services_, scratch_.path() + "u.ico", scratch_.path() + "setup.exe", "DEFAULT_ICON", 0), 1);
  ASSERT_EQ(resources_.updates.size(), 1u);
  const auto& changes = resources_.updates[0];
  ASSERT_EQ(changes.size(), 4u);
  for (uint16_t i = 0; i < 3; ++i) {
    EXPECT_EQ(changes[i].type.id, kResourceTypeIcon);
    EXPECT_EQ(changes[i].name.id, i + 1);
    EXPECT_EQ(changes[i].data, Bytes(4 + i, static_cast<char>('a' + i)));
  }
  EXPECT_EQ(changes[3].type.id, kResourceTypeGroupIcon);
  EXPECT_EQ(changes[3].name.text, "DEFAULT_ICON");
  EXPECT_EQ(changes[3].data.size(), 6u + 42u);
  EXPECT_EQ(changes[3].data[6 + 14 * 2 + 12], 3);  // the third entry names RT_ICON 3

  EXPECT_EQ(replaceIconGroup(services_, scratch_.path() + "missing.ico", scratch_.path() + "setup.exe", "G", 0), 0);
  ASSERT_TRUE(writeWholeFile(fs(), scratch_.path() + "cut.ico", ico.substr(0, 30)));
  EXPECT_EQ(replaceIconGroup(services_, scratch_.path() + "cut.ico", scratch_.path() + "setup.exe", "G", 0), -1);
  EXPECT_EQ(resources_.updates.size(), 1u);
}

TEST_F(UninstallerBuilderTest, PackerRunsAroundTheResourceEdits) {
  state_.packerImage = "packer bytes";
  Text files;
  generateUninstaller(services_, state_, files);
  ASSERT_EQ(processes_.runs.size(), 2u);
  const Text temp = fs().tempFolder();
  const Text uninstaller = state_.installDir + "\\uninst.exe";
  EXPECT_EQ(processes_.runs[0].commandLine, "\"" + temp + "\\upx1.exe\" -d -q \"" + uninstaller + "\"");
  EXPECT_EQ(processes_.runs[1].commandLine, "\"" + temp + "\\upx1.exe\" --no-color -q -1 \"" + uninstaller + "\"");
  EXPECT_EQ(processes_.runs[0].window, WindowState::kHidden);
  EXPECT_EQ(readWholeFile(fs(), temp + "upx1.exe"), "packer bytes");
}

TEST_F(UninstallerBuilderTest, BareStubBecomesTheWholeUninstaller) {
  writeWholeFile(fs(), system_.path, "MZ-bare");
  Text files;
  generateUninstaller(services_, state_, files);
  EXPECT_EQ(readWholeFile(fs(), state_.installDir + "\\uninst.exe"),
            Bytes("MZ-bare") + sectionBlockHead(kPackageModeOpen) + "zul-2" + sectionBlockTail(kPackageModeClose));
}

}  // namespace
}  // namespace zul
