#include "startup/setup_package.h"

#include <gtest/gtest.h>

#include "platform/test_support/scratch_folder.h"

namespace zul {
namespace {

class SetupPackageTest : public ::testing::Test {
 protected:
  SectionReader reader(uint64_t chunk = kSectionChunk) {
    SectionReader io(scratch_.fs());
    io.emptyFileRetries = 2;
    io.sectionChunk = chunk;
    io.stubChunk = chunk;
    return io;
  }
  Text at(const char* name) const { return scratch_.path() + name; }
  void write(const Text& path, std::string_view data) { ASSERT_TRUE(writeWholeFile(scratch_.fs(), path, data)); }
  Bytes read(const Text& path) { return readWholeFile(scratch_.fs(), path); }

  static Bytes block(std::string_view open, std::string_view content, std::string_view close) {
    return sectionBlockHead(open) + Bytes(content) + sectionBlockTail(close);
  }
  // A setup file: a stub whose string table holds the marker texts followed
  // by NUL (as a compiled stub does), then the three sections.
  static Bytes setupFile(std::string_view mode, std::string_view payload, std::string_view config) {
    Bytes stub = "MZ stub image ";
    stub += Bytes(kPayloadClose) + '\0' + Bytes(kConfigOpen) + '\0' + Bytes(kPackageModeOpen) + '\0';
    return stub + block(kPackageModeOpen, mode, kPackageModeClose) + block(kPayloadOpen, payload, kPayloadClose) +
           block(kConfigOpen, config, kConfigClose);
  }

  ScratchFolder scratch_;
};

// Every reader must give the same answer whatever the chunk size, including
// chunks so small that every pattern straddles a boundary.
TEST_F(SetupPackageTest, SectionsReadTheSameWithAnyChunkSize) {
  const Bytes payload = Bytes(kSevenZipSignature) + Bytes(3000, 'p') + "ZUL-mark=7zipdataB" + '\0' + "tail";
  const Bytes config = "7Z\xBC\xAF\x27\x1C\x00\x03 config bytes";
  const Bytes file = setupFile(kInstallerMode, payload, config);
  write(at("setup.exe"), file);
  for (uint64_t chunk : {uint64_t{1}, uint64_t{7}, uint64_t{19}, uint64_t{20}, uint64_t{64}, uint64_t{1000},
                         uint64_t{file.size()}, kSectionChunk}) {
    SCOPED_TRACE(chunk);
    auto io = reader(chunk);
    EXPECT_EQ(readSectionForward(io, at("setup.exe"), kPackageModeOpen, kPackageModeClose), "zul-1");
    EXPECT_EQ(readSectionBackward(io, at("setup.exe"), kConfigOpen, kConfigClose), config);
    EXPECT_EQ(readSectionForward(io, at("setup.exe"), kPayloadOpen, kPayloadClose), payload);
    const Bytes stub = readStubPart(io, at("setup.exe"), kPackageModeOpen);
    EXPECT_EQ(stub, file.substr(0, file.find(Bytes(kPackageModeOpen) + '\x01') - 1));
  }
}

TEST_F(SetupPackageTest, MissingOrEmptySectionsReadEmpty) {
  struct Case {
    const char* what;
    Bytes file;
  } cases[] = {
      {"no sections", "MZ plain program"},
      {"marker text without 0x01", Bytes(kPackageModeOpen) + '\0' + "zul-1" + Bytes(kPackageModeClose) + '\0'},
      {"closing pattern missing", sectionBlockHead(kPackageModeOpen) + "zul-1" + sectionBlockHead(kConfigOpen) + "x"},
      {"empty sections", setupFile("", "", "")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    write(at("f.exe"), c.file);
    for (uint64_t chunk : {uint64_t{5}, kSectionChunk}) {
      auto io = reader(chunk);
      EXPECT_EQ(readSectionForward(io, at("f.exe"), kPackageModeOpen, kPackageModeClose), "");
      EXPECT_EQ(readSectionBackward(io, at("f.exe"), kConfigOpen, kConfigClose), "");
    }
  }
}

TEST_F(SetupPackageTest, ReadersGiveUpOnAFileThatStaysEmpty) {
  write(at("empty.exe"), "");
  int waits = 0;
  auto io = reader();
  io.waitBeforeRetry = [&] { ++waits; };
  EXPECT_EQ(readSectionForward(io, at("empty.exe"), kPackageModeOpen, kPackageModeClose), "");
  EXPECT_EQ(readSectionBackward(io, at("missing.exe"), kConfigOpen, kConfigClose), "");
  EXPECT_EQ(waits, 2 * io.emptyFileRetries);
}

TEST_F(SetupPackageTest, PayloadCopyHoldsPatternArchiveAndChunkTail) {
  const Bytes payload = Bytes(kSevenZipSignature) + Bytes(500, 'a');
  const Bytes file = setupFile(kInstallerMode, payload, "cfg");
  write(at("setup.exe"), file);
  const size_t openAt = file.find(Bytes(kPayloadOpen) + '\x01');
  for (uint64_t chunk : {uint64_t{3}, uint64_t{50}, uint64_t{100000}}) {
    SCOPED_TRACE(chunk);
    auto io = reader(chunk);
    std::vector<int> percents;
    ASSERT_TRUE(copySectionForward(io, at("setup.exe"), kPayloadOpen, kPayloadClose, at("copy.7zzul"),
                                   [&](int p) { percents.push_back(p); }));
    const Bytes copy = read(at("copy.7zzul"));
    // 19 pattern bytes, the archive, then at least the closing pattern.
    ASSERT_GE(copy.size(), 19 + payload.size() + 19);
    EXPECT_EQ(copy, file.substr(openAt, copy.size()));
    EXPECT_EQ(copy.substr(19, payload.size()), payload);
    EXPECT_EQ(copy.substr(19 + payload.size(), 19), Bytes(kPayloadClose) + '\x01');
    for (size_t i = 1; i < percents.size(); ++i) EXPECT_GE(percents[i], percents[i - 1]);
    for (int p : percents) EXPECT_LE(p, 100);
  }
}

TEST_F(SetupPackageTest, StubPartStopsBeforeGapByte) {
  const Bytes file = setupFile(kInstallerMode, "p", "c");
  write(at("setup.exe"), file);
  auto io = reader();
  const Bytes stub = readStubPart(io, at("setup.exe"), kPackageModeOpen);
  ASSERT_FALSE(stub.empty());
  EXPECT_EQ(file.substr(stub.size(), 1), Bytes(1, '\0'));
  EXPECT_EQ(file.substr(stub.size() + 1, kPackageModeOpen.size()), kPackageModeOpen);
}

TEST_F(SetupPackageTest, AppendedModeReadsBackExactly) {
  write(at("uninst.exe"), "MZ stub");
  ASSERT_TRUE(appendPackageMode(scratch_.fs(), at("uninst.exe"), kUninstallerMode));
  auto io = reader();
  EXPECT_EQ(readSectionForward(io, at("uninst.exe"), kPackageModeOpen, kPackageModeClose), "zul-2");
  EXPECT_EQ(readStubPart(io, at("uninst.exe"), kPackageModeOpen), "MZ stub");
  EXPECT_EQ(read(at("uninst.exe")), Bytes("MZ stub") + sectionBlockHead(kPackageModeOpen) + "zul-2" +
                                                        sectionBlockTail(kPackageModeClose));
  EXPECT_FALSE(appendPackageMode(scratch_.fs(), at("missing.exe"), kUninstallerMode));
}

TEST_F(SetupPackageTest, SignatureCheckAndRepair) {
  const Bytes sig(kSevenZipSignature);
  struct Case {
    Bytes content;
    uint64_t repairAt;
    int before;
    Bytes after;
  } cases[] = {
      {sig + "rest", 0, 0, sig + "rest"},
      {"x" + sig, 0, 1, "x" + sig},
      {"7Z" + sig.substr(2), 0, -1, sig},
      {Bytes(19, 'm') + "7?" + sig.substr(2), 19, -1, Bytes(19, 'm') + sig},
      {"", 0, -1, "7z"},
  };
  for (const auto& c : cases) {
    write(at("a.7z"), c.content);
    EXPECT_EQ(checkArchiveSignature(scratch_.fs(), at("a.7z")), c.before);
    repairArchiveSignature(scratch_.fs(), at("a.7z"), c.repairAt);
    EXPECT_EQ(read(at("a.7z")), c.after);
  }
}

}  // namespace
}  // namespace zul
