#include "package_reader.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>

#include "project_builder.h"
#include "startup/setup_package.h"
#include "test_host_files.h"

namespace zul::pack {
namespace {

using test_files::readHost;
using test_files::sh;
using test_files::writeHost;

namespace fs = std::filesystem;

// Every regular file below `root`, relative path -> contents.
std::map<std::string, std::string> tree(const fs::path& root) {
  std::map<std::string, std::string> files;
  for (const auto& item : fs::recursive_directory_iterator(root)) {
    if (item.is_regular_file()) files[fs::relative(item.path(), root).string()] = readHost(item.path());
  }
  return files;
}

const std::string kProduct = "\xE6\xB5\x8B\xE8\xAF\x95";  // 测试
const std::string kDocument = "\xE6\x96\x87\xE6\xA1\xA3/\xE8\xAF\xB4\xE6\x98\x8E.txt";  // 文档/说明.txt

// A project built with the MinGW-built stub fixture ("KEY" 250 = "zul").
class PackageReaderTest : public ::testing::Test {
 public:
  void SetUp() override {
    if (std::string(ZULPACK_PE_FIXTURE).empty()) GTEST_SKIP() << "no MinGW toolchain to build the stub fixture";
    root_ = fs::temp_directory_path() / ("zulpack_reader_" + std::to_string(getpid()));
    fs::remove_all(root_);
    writeHost(root_ / "p/config/data.ini",
              "[\xE7\xA6\xBE\xE5\xBC\x8B\xE8\xBD\xAF\xE4\xBB\xB6\xE5\xAE\x89\xE8\xA3\x85\xE9\x85\x8D\xE7\xBD\xAE]\n"
              "\xE7\xA6\xBE\xE5\xBC\x8B\xE8\xBD\xAF\xE4\xBB\xB6\xE5\x90\x8D\xE7\xA7\xB0=" + kProduct + "\n");
    writeHost(root_ / "p/config/logo.jpg", std::string("\xFF\xD8\x00jpeg", 7));
    std::mt19937 generator(7);
    std::string random(200000, '\0');
    for (char& c : random) c = static_cast<char>(generator());
    writeHost(root_ / "p/payload/app.bin", random);
    writeHost(root_ / "p/payload" / kDocument, "readme");
    writeHost(root_ / "p/payload/empty.txt", "");
    fs::create_directories(root_ / "out");
    options_.projectDir = (root_ / "p").string();
    options_.outPath = (root_ / "out/setup.exe").string();
    options_.stubPath = ZULPACK_PE_FIXTURE;
  }
  void TearDown() override {
    if (!root_.empty()) fs::remove_all(root_);
  }

  void build() {
    BuildSummary summary;
    std::string error;
    ASSERT_TRUE(buildProject(options_, &summary, &error)) << error;
  }

  // Extracts `file` as zulpack extract does; the message on failure.
  std::string extract(const fs::path& file, const fs::path& dir, const Text& password = {}) {
    PackageReader reader;
    std::string error;
    if (!reader.open(file.string(), &error)) return error;
    if (reader.isSetupFile()) {
      if (!reader.extractConfig((dir / "config").string(), &error)) return error;
      if (!reader.extractPayload(password, (dir / "payload").string(), &error)) return error;
    } else if (!reader.extractPayload(password, dir.string(), &error)) {
      return error;
    }
    return "";
  }

  fs::path root_;
  BuildOptions options_;
};

TEST_F(PackageReaderTest, ExtractGivesBackTheProject) {
  options_.payloadPassword = "pw";
  build();
  ASSERT_EQ(extract(options_.outPath, root_ / "x"), "");
  EXPECT_EQ(tree(root_ / "x/payload"), tree(root_ / "p/payload"));
  EXPECT_TRUE(fs::exists(root_ / "x/payload/empty.txt"));
  EXPECT_EQ(readHost(root_ / "x/config/logo.jpg"), std::string("\xFF\xD8\x00jpeg", 7));
  // data.ini comes back as GBK with CR LF, plus the key the build added.
  EXPECT_EQ(readHost(root_ / "x/config/data.ini"),
            "[\xBA\xCC\xDF\xAE\xC8\xED\xBC\xFE\xB0\xB2\xD7\xB0\xC5\xE4\xD6\xC3]\r\n"
            "\xBA\xCC\xDF\xAE\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6=\xB2\xE2\xCA\xD4\r\nsafe=pw\r\n");

  // Built again from what came out, the payload still reads the same.
  options_.projectDir = (root_ / "x").string();
  options_.outPath = (root_ / "out/again.exe").string();
  options_.payloadPassword.clear();
  build();
  ASSERT_EQ(extract(options_.outPath, root_ / "y"), "");
  EXPECT_EQ(tree(root_ / "y"), tree(root_ / "x"));
}

// A setup file in the payload, its random bytes stored as they are, brings
// its own section markers into the outer payload.
TEST_F(PackageReaderTest, ASetupFileInsideThePayload) {
  build();
  fs::copy_file(options_.outPath, root_ / "p/payload/inner.exe");
  options_.outPath = (root_ / "out/outer.exe").string();
  build();
  const std::string close = std::string(kPayloadClose) + '\x01', outer = readHost(options_.outPath);
  ASSERT_NE(outer.find(close), outer.rfind(close)) << "the inner file's markers should show in the outer payload";
  ASSERT_EQ(extract(options_.outPath, root_ / "x"), "");
  EXPECT_EQ(tree(root_ / "x/payload"), tree(root_ / "p/payload"));
}

TEST_F(PackageReaderTest, VolumesAndTheInstallPassword) {
  options_.volumeSize = 50000;
  options_.installPassword = "secret";
  build();
  PackageReader reader;
  std::string error;
  ASSERT_TRUE(reader.open(options_.outPath, &error)) << error;
  ASSERT_GE(reader.volumes().size(), 4u);
  EXPECT_EQ(fs::path(reader.volumes()[0].path).filename().string(), kProduct + ".001");
  EXPECT_TRUE(reader.volumes().back().exists);
  std::vector<EntryInfo> entries;
  bool needsPassword = false;
  EXPECT_FALSE(reader.listPayload("", &entries, &error, &needsPassword));
  EXPECT_TRUE(needsPassword);
  ASSERT_TRUE(reader.listPayload("secret", &entries, &error)) << error;
  EXPECT_EQ(entries.size(), 4u);  // app.bin, empty.txt, the folder and the file in it
  ASSERT_EQ(extract(options_.outPath, root_ / "x", "secret"), "");
  EXPECT_EQ(tree(root_ / "x/payload"), tree(root_ / "p/payload"));

  // Rebuilt without volumes, the extracted project keeps its payload inside.
  BuildOptions again = options_;
  again.projectDir = (root_ / "x").string();
  again.outPath = (root_ / "out/again.exe").string();
  again.volumeSize = 0;
  again.installPassword.clear();
  BuildSummary summary;
  ASSERT_TRUE(buildProject(again, &summary, &error)) << error;
  PackageReader rebuilt;
  ASSERT_TRUE(rebuilt.open(again.outPath, &error)) << error;
  EXPECT_TRUE(rebuilt.volumes().empty());
  ASSERT_EQ(extract(again.outPath, root_ / "x2", "secret"), "");
  EXPECT_EQ(tree(root_ / "x2/payload"), tree(root_ / "p/payload"));

  // Wrong, missing and a missing volume: each a message and nothing written.
  struct Case {
    const char* what;
    Text password;
    const char* expect;
  } cases[] = {
      {"no password", "", "give it with --password"},
      {"wrong password", "Secret", "wrong password"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_NE(extract(options_.outPath, root_ / "bad", c.password).find(c.expect), std::string::npos);
    EXPECT_FALSE(fs::exists(root_ / "bad/payload"));
  }
  fs::remove(reader.volumes()[1].path);
  const std::string message = extract(options_.outPath, root_ / "bad", "secret");
  EXPECT_NE(message.find(kProduct + ".002 is missing"), std::string::npos) << message;
}

TEST_F(PackageReaderTest, DamageAndForeignFilesAreNamed) {
  build();
  const std::string setup = readHost(options_.outPath);
  const size_t config = setup.rfind(std::string("ZUL-mark=\xC5\xE4\xD6\xC3\xB0\xFCsA\x01"));
  const size_t payload = setup.find("ZUL-mark=7zipdataA\x01") + 19;
  struct Case {
    const char* what;
    std::string bytes;
    const char* expect;
  } cases[] = {
      {"cut configuration", setup.substr(0, config + 40) + setup.substr(setup.size() - 19), "configuration archive"},
      {"damaged payload", setup.substr(0, payload + 100) + std::string(64, 'x') + setup.substr(payload + 164),
       "payload: "},
      {"stub that is not an executable", "MZ?" + setup.substr(setup.find("ZUL-mark=") - 1), "not a Windows executable"},
      {"neither setup file nor archive", "hello", "neither a setup file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    writeHost(root_ / "bad.exe", c.bytes);
    const std::string message = extract(root_ / "bad.exe", root_ / "bad");
    EXPECT_NE(message.find(c.expect), std::string::npos) << message;
    EXPECT_NE(message.find("bad.exe"), std::string::npos) << message;
  }
}

TEST_F(PackageReaderTest, AnUninstallerHasARoleButNothingToExtract) {
  writeHost(root_ / "uninst.exe", readHost(ZULPACK_PE_FIXTURE) + std::string("\0ZUL-mark=\xC5\xE4\xD6\xC3\xB0\xFC" "A\x01zul-2", 23) +
                                      "ZUL-mark=\xC5\xE4\xD6\xC3\xB0\xFC" "B\x01");
  PackageReader reader;
  std::string error;
  ASSERT_TRUE(reader.open((root_ / "uninst.exe").string(), &error)) << error;
  EXPECT_TRUE(reader.isSetupFile());
  EXPECT_FALSE(reader.hasConfig());
  EXPECT_EQ(reader.packageMode(), "zul-2");
  EXPECT_EQ(reader.stubSize(), fs::file_size(ZULPACK_PE_FIXTURE));
  EXPECT_NE(extract(root_ / "uninst.exe", root_ / "x").find("no package to extract"), std::string::npos);
}

// 7zz writes the archives: a plain one, an encrypted one, a split one.
TEST_F(PackageReaderTest, PlainAndSplitArchivesFrom7zz) {
  if (sh("command -v 7zz >/dev/null") != 0) GTEST_SKIP() << "no 7zz";
  const std::string payload = (root_ / "p/payload").string();
  ASSERT_EQ(sh("cd " + payload + " && 7zz a -bd -bso0 " + (root_ / "plain.7z").string() + " . && 7zz a -bd -bso0 -mhe=on -pabc " +
               (root_ / "enc.7z").string() + " . && 7zz a -bd -bso0 -mx0 -v70k " + (root_ / "split.7z").string() + " ."),
            0);
  ASSERT_EQ(extract(root_ / "plain.7z", root_ / "a"), "");
  EXPECT_EQ(tree(root_ / "a"), tree(payload));
  ASSERT_EQ(extract(root_ / "split.7z.001", root_ / "b"), "");
  EXPECT_EQ(tree(root_ / "b"), tree(payload));
  EXPECT_NE(extract(root_ / "enc.7z", root_ / "c").find("give its password"), std::string::npos);
  EXPECT_NE(extract(root_ / "enc.7z", root_ / "c", "abd").find("Wrong password"), std::string::npos);
  ASSERT_EQ(extract(root_ / "enc.7z", root_ / "d", "abc"), "");
  EXPECT_EQ(tree(root_ / "d"), tree(payload));
  fs::remove(root_ / "split.7z.002");
  const std::string message = extract(root_ / "split.7z.001", root_ / "e");
  EXPECT_NE(message.find("split.7z.002 is missing"), std::string::npos) << message;
}

}  // namespace
}  // namespace zul::pack
