#include "project_builder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include "test_host_files.h"

namespace zul::pack {
namespace {

using test_files::readHost;
using test_files::sh;
using test_files::writeHost;

namespace fs = std::filesystem;

// A project and an output folder in a fresh temporary folder. The stub is
// the MinGW-built fixture whose "KEY" 250 holds "zul".
class ProjectBuilderTest : public ::testing::Test {
 public:
  void SetUp() override {
    if (std::string(ZULPACK_PE_FIXTURE).empty()) GTEST_SKIP() << "no MinGW toolchain to build the stub fixture";
    root_ = fs::temp_directory_path() / ("zulpack_project_" + std::to_string(getpid()));
    fs::remove_all(root_);
    writeHost(root_ / "p/config/data.ini",
              "; comment\n[\xE7\xA6\xBE\xE5\xBC\x8B\xE8\xBD\xAF\xE4\xBB\xB6\xE5\xAE\x89\xE8\xA3\x85\xE9\x85\x8D\xE7\xBD\xAE]\n"
              "\xE7\xA6\xBE\xE5\xBC\x8B\xE8\xBD\xAF\xE4\xBB\xB6\xE5\x90\x8D\xE7\xA7\xB0=\xE6\xB5\x8B\xE8\xAF\x95\n");  // [禾弋软件安装配置] 禾弋软件名称=测试
    writeHost(root_ / "p/config/logo.jpg", std::string("\xFF\xD8\x00jpeg", 7));
    writeHost(root_ / "p/payload/app.exe", std::string(50000, 'x'));
    writeHost(root_ / "p/payload/\xE6\x96\x87\xE6\xA1\xA3/\xE8\xAF\xB4\xE6\x98\x8E.txt", "readme");  // 文档/说明.txt
    fs::create_directories(root_ / "out");
    options_.projectDir = (root_ / "p").string();
    options_.outPath = (root_ / "out/setup.exe").string();
    options_.stubPath = ZULPACK_PE_FIXTURE;
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  // The configuration archive cut out of the setup file, signature repaired,
  // extracted by 7zz with the stub's password into out/config.
  std::string packagedDataIni() {
    const std::string file = readHost(options_.outPath);
    const std::string open = "ZUL-mark=\xC5\xE4\xD6\xC3\xB0\xFCsA\x01", close = "ZUL-mark=\xC5\xE4\xD6\xC3\xB0\xFCsB\x01";
    const size_t from = file.rfind(open) + open.size();
    std::string archive = file.substr(from, file.rfind(close) - from);
    EXPECT_EQ(archive[1], 'Z');
    archive[1] = 'z';
    writeHost(root_ / "out/config.7z", archive);
    // The password is md5("zul") in lower-case hexadecimal.
    EXPECT_EQ(sh("cd " + (root_ / "out").string() +
                 " && 7zz x -y -bd -oconfig -p$(printf zul | md5sum | cut -d' ' -f1) config.7z >/dev/null"),
              0);
    return readHost(root_ / "out/config/data.ini");
  }

  fs::path root_;
  BuildOptions options_;
  BuildSummary summary_;
  std::string error_;
};

TEST_F(ProjectBuilderTest, ConfigurationIsGbkAndEncryptedWithTheStubsPassword) {
  options_.payloadPassword = "s\xC3\xA9";  // "sé" has a GBK form
  ASSERT_TRUE(buildProject(options_, &summary_, &error_)) << error_;
  const std::string ini = packagedDataIni();
  EXPECT_NE(ini.find("\xBA\xCC\xDF\xAE\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6=\xB2\xE2\xCA\xD4\r\n"), std::string::npos) << ini;
  EXPECT_NE(ini.find("safe=s\xA8\xA6"), std::string::npos);
  EXPECT_EQ(readHost(root_ / "out/config/logo.jpg"), std::string("\xFF\xD8\x00jpeg", 7));
  EXPECT_EQ(summary_.payloadFiles, 2u);
  EXPECT_FALSE(fs::exists(options_.outPath + ".payload.7z"));
}

TEST_F(ProjectBuilderTest, VolumesAreNamedAfterTheProductAndCounted) {
  options_.volumeSize = 300;
  options_.installPassword = "secret";
  ASSERT_TRUE(buildProject(options_, &summary_, &error_)) << error_;
  ASSERT_GE(summary_.volumes, 2);
  const std::string ini = packagedDataIni();
  EXPECT_NE(ini.find("\xD1\xB9\xCB\xF5\xB7\xD6\xBE\xED\xCA\xFD=" + std::to_string(summary_.volumes)), std::string::npos);
  EXPECT_NE(ini.find("\xB7\xD6\xBE\xED\xB4\xF3\xD0\xA1=300"), std::string::npos);
  EXPECT_NE(ini.find("\xB0\xB2\xD7\xB0\xC3\xDC\xC2\xEB=5ebe2294ecd0e0f08eab7690d2a6ee69"), std::string::npos);  // md5("secret")
  // The volumes (测试.001 ...) extract, with the install password, to the payload.
  const fs::path first = root_ / "out/\xE6\xB5\x8B\xE8\xAF\x95.001";
  ASSERT_TRUE(fs::exists(first));
  ASSERT_EQ(sh("7zz x -y -bd -psecret -o" + (root_ / "out/payload").string() + " '" + first.string() + "' >/dev/null"), 0);
  EXPECT_EQ(readHost(root_ / "out/payload/app.exe"), std::string(50000, 'x'));
  EXPECT_EQ(readHost(root_ / "out/payload/\xE6\x96\x87\xE6\xA1\xA3/\xE8\xAF\xB4\xE6\x98\x8E.txt"), "readme");
}

TEST_F(ProjectBuilderTest, BadInputNamesTheFileAndLeavesNoOutput) {
  struct Case {
    const char* what;
    std::function<void(ProjectBuilderTest&)> spoil;
    const char* expect;  // part of the message
  } cases[] = {
      {"no config", [](auto& t) { fs::remove_all(t.root_ / "p/config"); }, "config: missing"},
      {"no payload", [](auto& t) { fs::remove_all(t.root_ / "p/payload"); }, "payload: missing"},
      {"stub without KEY", [](auto& t) { writeHost(t.root_ / "stub.exe", "MZ not a stub"); t.options_.stubPath = (t.root_ / "stub.exe").string(); }, "no resource KEY 250"},
      {"name GBK cannot hold", [](auto& t) { writeHost(t.root_ / "p/payload/\xF0\x9F\x98\x80.txt", "x"); }, "GBK cannot hold"},
      {"text GBK cannot hold", [](auto& t) { writeHost(t.root_ / "p/config/GUItext.ini", "a=\xF0\x9F\x98\x80\n"); }, "GUItext.ini: line 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TearDown();
    SetUp();
    c.spoil(*this);
    EXPECT_FALSE(buildProject(options_, &summary_, &error_));
    EXPECT_NE(error_.find(c.expect), std::string::npos) << error_;
    EXPECT_TRUE(fs::is_empty(root_ / "out")) << "partial output left";
  }
}

}  // namespace
}  // namespace zul::pack
