#include "project_template.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "config/data_block.h"
#include "config/package_config.h"
#include "package_reader.h"
#include "platform/fake/native_file_system.h"
#include "project_builder.h"
#include "test_host_files.h"

namespace zul::pack {
namespace {

using test_files::readHost;

namespace fs = std::filesystem;

class ProjectTemplateTest : public ::testing::Test {
 public:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("zulpack_template_" + std::to_string(getpid()));
    fs::remove_all(root_);
  }
  void TearDown() override { fs::remove_all(root_); }
  fs::path root_;
};

TEST_F(ProjectTemplateTest, TheExampleBuildsAndTheInstallerReadsItsLists) {
  if (std::string(ZULPACK_PE_FIXTURE).empty()) GTEST_SKIP() << "no MinGW toolchain to build the stub fixture";
  std::string error;
  ASSERT_TRUE(writeExampleProject((root_ / "new/proj").string(), &error)) << error;
  EXPECT_TRUE(fs::exists(root_ / "new/proj/registry.txt"));

  BuildOptions options;
  options.stubPath = ZULPACK_PE_FIXTURE;
  options.projectDir = (root_ / "new/proj").string();
  options.outPath = (root_ / "full.exe").string();
  BuildSummary summary;
  if (!buildProject(options, &summary, &error)) {
    // Until registry lists compile, the project builds without its list.
    ASSERT_NE(error.find("not supported yet"), std::string::npos) << error;
  }
  fs::copy(root_ / "new/proj", root_ / "copy", fs::copy_options::recursive);
  fs::remove(root_ / "copy/registry.txt");
  options.projectDir = (root_ / "copy").string();
  options.outPath = (root_ / "setup.exe").string();
  summary = {};
  ASSERT_TRUE(buildProject(options, &summary, &error)) << error;
  EXPECT_EQ(summary.payloadFiles, 2u);

  PackageReader reader;
  ASSERT_TRUE(reader.open(options.outPath, &error)) << error;
  ASSERT_TRUE(reader.extractConfig((root_ / "x").string(), &error)) << error;
  ASSERT_TRUE(reader.extractPayload("", (root_ / "payload").string(), &error)) << error;

  // The installer's own readers on the extracted data folder.
  NativeFileSystem files("/");
  SetupState state;
  state.dataDir = utf8ToGbk((root_ / "x").string()) + "\\";
  EXPECT_EQ(readSetupKey(files, state, Text(keys::kProductName)), "\xD1\xDD\xCA\xBE\xC8\xED\xBC\xFE");  // 演示软件
  EXPECT_EQ(readSetupKey(files, state, Text(keys::kMakeUninstaller)), "1");
  EXPECT_TRUE(isTrue(readPackageKey(files, state, keys::kVisibleSection, keys::kLocationVisible)));
  state.productName = readSetupKey(files, state, Text(keys::kProductName));
  state.mainProgramName = readSetupKey(files, state, Text(keys::kMainProgramName));
  readShortcutList(files, state);
  readFinishOptions(files, state);
  readRunLists(files, state);
  ASSERT_EQ(state.shortcutList.size(), 2u);
  EXPECT_EQ(state.shortcutList[1].target, "%Uninst.exe%");
  EXPECT_EQ(state.runAfterExtract.file.size(), 1u);
  ASSERT_EQ(state.runAtUninstall.file.size(), 1u);
  EXPECT_TRUE(state.runAtUninstall.waitForExit[0]);
  ASSERT_EQ(state.finishOptions.size(), 3u);
  EXPECT_TRUE(state.finishOptions[1].shown);
  EXPECT_FALSE(state.finishOptions[2].shown);
  // The main program the finish page offers is in the payload.
  EXPECT_TRUE(fs::exists(root_ / "payload" / gbkToUtf8(state.mainProgramName)));

  const Bytes readme = findDataBlock(readHost(root_ / "x/data.ini"), keys::kReadmeBlock);
  EXPECT_EQ(readme.rfind("\xD1\xDD\xCA\xBE\xC8\xED\xBC\xFE", 0), 0u) << readme;
  for (const char* picture : {"界面图片.jpg", "界面小图片.jpg", "界面大图片.jpg", "界面安装时图像.jpg"}) {
    EXPECT_EQ(readHost(root_ / "x" / picture).substr(0, 8), std::string("\x89PNG\r\n\x1A\n", 8)) << picture;
  }
  EXPECT_EQ(readHost(root_ / "x/卸载程序图标.ico").substr(0, 6), std::string("\0\0\1\0\1\0", 6));
}

TEST_F(ProjectTemplateTest, RefusesAFolderThatHoldsSomething) {
  fs::create_directories(root_ / "full");
  std::ofstream(root_ / "full/keep.txt") << "mine";
  std::string error;
  EXPECT_FALSE(writeExampleProject((root_ / "full").string(), &error));
  EXPECT_NE(error.find("not an empty folder"), std::string::npos) << error;
  EXPECT_EQ(readHost(root_ / "full/keep.txt"), "mine");
  EXPECT_FALSE(fs::exists(root_ / "full/config"));
}

// An independent decoder checks the generated picture.
TEST(GeneratedPictures, PythonReadsThePng) {
  if (std::system("python3 -c 'import zlib' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
  const fs::path file = fs::temp_directory_path() / ("zulpack_png_" + std::to_string(getpid()) + ".png");
  const Bytes png = makePng(5, 3, [](int x, int y) { return static_cast<uint32_t>(x * 0x10000 + y * 0x100 + 7); });
  std::ofstream(file, std::ios::binary) << png;
  // Every chunk's CRC, the size and the last pixel, decoded with Python's zlib.
  const std::string script =
      "import struct,zlib,sys\n"
      "d=open(sys.argv[1],'rb').read(); assert d[:8]==b'\\x89PNG\\r\\n\\x1a\\n'; p=8; idat=b''\n"
      "while p<len(d):\n"
      " n,=struct.unpack('>I',d[p:p+4]); t=d[p+4:p+8]; c=d[p+8:p+8+n]\n"
      " assert zlib.crc32(t+c)==struct.unpack('>I',d[p+8+n:p+12+n])[0]\n"
      " if t==b'IHDR': w,h=struct.unpack('>II',c[:8])\n"
      " if t==b'IDAT': idat+=c\n"
      " p+=12+n\n"
      "r=zlib.decompress(idat); assert (w,h)==(5,3) and len(r)==3*(1+15) and r[-3:]==bytes([4,2,7])\n";
  EXPECT_EQ(std::system(("python3 -c \"$(cat <<'EOF'\n" + script + "EOF\n)\" " + file.string()).c_str()), 0);
  fs::remove(file);
}

}  // namespace
}  // namespace zul::pack
