// The stub's resources, as the Windows loader finds them: the uninstaller
// builder replaces some of them by type, name and language, and start-up
// reads "KEY" 250 for the configuration archive's password.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

class StubResources : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = LoadLibraryExW(ZUL_STUB_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(module_, nullptr) << "cannot load " << ZUL_STUB_PATH_NARROW;
  }
  void TearDown() override {
    if (module_) FreeLibrary(module_);
  }
  std::string resource(const wchar_t* type, const wchar_t* name, WORD language) {
    HRSRC info = FindResourceExW(module_, type, name, language);
    if (!info) return {};
    HGLOBAL data = LoadResource(module_, info);
    return std::string(static_cast<const char*>(LockResource(data)), SizeofResource(module_, info));
  }

  HMODULE module_ = nullptr;
};

TEST_F(StubResources, KeyIsThreeBytesWithoutTerminator) {
  EXPECT_EQ(resource(L"KEY", MAKEINTRESOURCEW(250), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL)), ZUL_RESOURCE_KEY);
}

TEST_F(StubResources, IconGroupNamedDefaultIconWithImagesFromOne) {
  const std::string group = resource(RT_GROUP_ICON, L"DEFAULT_ICON", 0);
  ASSERT_GE(group.size(), 6u + 14u);
  const int count = static_cast<unsigned char>(group[4]);
  ASSERT_GE(count, 1);
  for (int i = 0; i < count; ++i) {
    const int id = static_cast<unsigned char>(group[6 + i * 14 + 12]) | (static_cast<unsigned char>(group[6 + i * 14 + 13]) << 8);
    EXPECT_EQ(id, i + 1);
    EXPECT_FALSE(resource(RT_ICON, MAKEINTRESOURCEW(id), 0).empty()) << id;
  }
}

TEST_F(StubResources, VersionInChineseAndManifestAskingHighestAvailable) {
  const std::string version = resource(RT_VERSION, MAKEINTRESOURCEW(1), MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED));
  ASSERT_GT(version.size(), 40u);
  EXPECT_EQ(resource(RT_VERSION, MAKEINTRESOURCEW(1), 2052), version);  // 2052 is the same language
  const std::string manifest = resource(RT_MANIFEST, MAKEINTRESOURCEW(1), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
  EXPECT_NE(manifest.find("level=\"highestAvailable\""), std::string::npos);
  EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
  EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
}

}  // namespace
