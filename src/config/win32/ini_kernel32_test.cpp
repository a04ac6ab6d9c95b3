// Differential test of the INI engine against the system's own profile
// functions (kernel32: GetPrivateProfileStringA, GetPrivateProfileSectionNamesA,
// WritePrivateProfileStringA) on a corpus of awkward files. Runs in the
// Windows trees only, under Wine here; the process's ANSI code page must be
// 936 so that the A functions read the files as GBK.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/ini_file.h"
#include "platform/test_support/scratch_folder.h"

namespace zul {
namespace {

const Text kSetupSection = "\xBA\xCC\xDF\xAE\xC8\xED\xBC\xFE\xB0\xB2\xD7\xB0\xC5\xE4\xD6\xC3";  // 禾弋软件安装配置
const Text kNameKey = "\xBA\xCC\xDF\xAE\xC8\xED\xBC\xFE\xC3\xFB\xB3\xC6";                     // 禾弋软件名称
const Text kTrue = "\xD5\xE6";                                                               // 真
const Text kTrailBracket = "\x81\x5D\x81\x5C";  // trail bytes "]" and "\"
const Text kFullWidthA = "\xA3\xC1";            // Ａ
const Text kFullWidthLowerA = "\xA3\xE1";       // ａ
const Text kIdeographicSpace = "\xA1\xA1";

Text repeat(const Text& s, int n) {
  Text out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

const Bytes kBlock = Bytes("readme\x01", 7) + Bytes("line\r\n[a]\r\nx=bad\r\n\0\x01\x02=\r\n", 22) + "readmeend";

using Query = std::pair<Text, Text>;  // section, key

struct ReadCase {
  const char* what;
  Bytes file;
  std::vector<Query> queries;
};

const std::vector<ReadCase>& readCorpus() {
  static const std::vector<ReadCase> corpus = {
      {"plain", "[s]\r\nk=v\r\n", {{"s", "k"}, {"s", "x"}, {"t", "k"}}},
      {"case", "[SeC]\nKeY=v\n", {{"sEc", "kEy"}, {"SEC", "KEY"}}},
      {"blanks", " \t[ s ] \n \t k \t=\t v w \t\n", {{"s", "k"}, {" s ", " k "}, {"[ s ]", "k"}}},
      {"quotes", "[s]\nd=\" v \"\ns='v'\nu=\"v'\nl=\"\ne=\"\"\ni=a\"b\"\nq='\"x\"'\n",
       {{"s", "d"}, {"s", "s"}, {"s", "u"}, {"s", "l"}, {"s", "e"}, {"s", "i"}, {"s", "q"}}},
      {"= in value", "[s]\nk = a=b\nj==c\n", {{"s", "k"}, {"s", "j"}}},
      {"duplicates", "[s]\nk=1\nk=2\n[S]\nk=3\nj=4\n", {{"s", "k"}, {"s", "j"}}},
      {"key without =", "[s]\nk\nk=v\nj\n", {{"s", "k"}, {"s", "j"}}},
      {"comments", "[s]\n;k=x\nk=v\n;c\n# h=1\n", {{"s", "k"}, {"s", ";k"}, {"s", "# h"}}},
      {"blank lines", "\r\n\r\n[s]\r\n\r\n\r\nk=v\r\n\r\n", {{"s", "k"}}},
      {"CR", "[s]\rk=v\rj=w\r", {{"s", "k"}, {"s", "j"}}},
      {"LF", "[s]\nk=v\nj=w\n", {{"s", "k"}, {"s", "j"}}},
      {"no final break", "[s]\r\nk=v", {{"s", "k"}}},
      {"mixed breaks", "[s]\r\nk=v\n\rj=w\n\nm=x\r\r", {{"s", "k"}, {"s", "j"}, {"s", "m"}}},
      {"headers", "[s] ; note\nk=v\n[a]b]\nk=w\n[t\nk=x\n[]\nk=y\n",
       {{"s", "k"}, {"a]b", "k"}, {"a", "k"}, {"t", "k"}, {"[t", "k"}}},
      {"keys before any section", "k=v\n[s]\nj=w\n", {{"s", "k"}, {"s", "j"}}},
      {"GBK names", "[" + kSetupSection + "]\r\n" + kNameKey + "=" + kTrue + "\r\n", {{kSetupSection, kNameKey}}},
      {"GBK trail bytes", "[" + kTrailBracket + "]\r\n" + kTrailBracket + "=v\r\n\xB0\x41=w\r\n",
       {{kTrailBracket, kTrailBracket}, {kTrailBracket, "\xB0\x41"}, {kTrailBracket, "\xB0\x61"}}},
      {"data block between sections", "[a]\r\nx=1\r\n" + kBlock + "\r\n[b]\r\ny=2\r\n",
       {{"a", "x"}, {"b", "y"}}},
      {"other blanks", "[s]\nv=\v\fx\v\f\nz=\x1Ay\x1A\n", {{"s", "v"}, {"s", "z"}}},
      {"NUL in a value", Bytes("[s]\nk=ab\0cd\nj=w\n", 16), {{"s", "k"}, {"s", "j"}}},
      {"ideographic space", "[s]\nk=" + kIdeographicSpace + "v" + kIdeographicSpace + "\n", {{"s", "k"}}},
      {"full-width letters", "[" + kFullWidthA + "]\nk=v\n", {{kFullWidthLowerA, "k"}, {kFullWidthA, "k"}}},
      {"long values", "[s]\na=" + Text(10239, 'a') + "\nb=" + Text(10240, 'b') + "\nc=" + Text(20000, 'c') +
                          "\nd=" + repeat("\xB0\xA1", 6000) + "\ne=x" + repeat("\xB0\xA1", 6000) + "\nq=\"" +
                          Text(10238, 'q') + "\"\nr=\"" + Text(10240, 'r') + "\"\n",
       {{"s", "a"}, {"s", "b"}, {"s", "c"}, {"s", "d"}, {"s", "e"}, {"s", "q"}, {"s", "r"}}},
  };
  return corpus;
}

// A short printable form: long values and whole files would drown the
// report.
std::string show(std::string_view s) {
  std::string out = std::to_string(s.size()) + " bytes \"";
  const auto put = [&](std::string_view part) {
    for (unsigned char c : part) {
      if (c >= 0x20 && c < 0x7F && c != '\\') {
        out.push_back(static_cast<char>(c));
      } else {
        char hex[8];
        snprintf(hex, sizeof hex, "\\x%02X", c);
        out += hex;
      }
    }
  };
  if (s.size() <= 120) {
    put(s);
  } else {
    put(s.substr(0, 40));
    out += "...";
    put(s.substr(s.size() - 40));
  }
  return out + "\"";
}

class Kernel32Test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (GetACP() != 936) GTEST_SKIP() << "ANSI code page is " << GetACP() << ", not 936";
  }
  Text path(const std::string& name) { return scratch_.path() + name; }
  void put(const Text& file, std::string_view bytes) { ASSERT_TRUE(writeWholeFile(scratch_.fs(), file, bytes)); }

  static Text systemRead(const Text& file, const Text& section, const Text& key) {
    std::string buffer(kProfileValueBuffer, '\0');
    const DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), "", buffer.data(),
                                             static_cast<DWORD>(buffer.size()), file.c_str());
    // The caller sees a C string. When the last character does not fit
    // whole, the count includes the byte left unwritten (here NUL).
    return Text(buffer.c_str(), std::min<size_t>(n, strlen(buffer.c_str())));
  }
  static std::vector<Text> systemSectionNames(const Text& file) {
    std::string buffer(kProfileSectionNamesBuffer, '\0');
    const DWORD n = GetPrivateProfileSectionNamesA(buffer.data(), static_cast<DWORD>(buffer.size()), file.c_str());
    std::vector<Text> names;
    for (size_t at = 0; at < n;) {
      const size_t end = buffer.find('\0', at);
      names.push_back(buffer.substr(at, end - at));
      at = end + 1;
    }
    return names;
  }

  ScratchFolder scratch_;
  int files_ = 0;
};

TEST_F(Kernel32Test, ReadsAgree) {
  for (const ReadCase& c : readCorpus()) {
    // A new name for every file: the profile functions cache what they read.
    const Text file = path("read" + std::to_string(files_++) + ".ini");
    put(file, c.file);
    for (const auto& [section, key] : c.queries) {
      const Text ours = readProfileString(scratch_.fs(), file, section, key);
      const Text theirs = systemRead(file, section, key);
      EXPECT_TRUE(ours == theirs) << c.what << ": [" << show(section) << "] " << show(key) << "\n  ours:   "
                                  << show(ours) << "\n  system: " << show(theirs);
    }
    EXPECT_EQ(profileSectionNames(scratch_.fs(), file), systemSectionNames(file)) << c.what;
  }
}

// A quoted value whose text without the quotes fills the buffer exactly:
// Wine drops the closing quote and then the last character before it as
// well. This engine keeps all 10,239 bytes, as the buffer rule gives.
TEST_F(Kernel32Test, QuotedValueFillingTheBufferLosesOneMoreByteUnderWine) {
  const Text file = path("quoted.ini");
  put(file, "[s]\nq=\"" + Text(10239, 'q') + "\"\n");
  EXPECT_EQ(readProfileString(scratch_.fs(), file, "s", "q"), Text(10239, 'q'));
  EXPECT_EQ(systemRead(file, "s", "q"), Text(10238, 'q'));
}

struct Write {
  Text section, key, value;
};

struct WriteCase {
  const char* what;
  Bytes before;  // empty: no file
  std::vector<Write> writes;
  // Wine's profile functions parse the file and write all of it again:
  // lines come back as name=value with CR LF, blank lines go, and bytes after
  // a NUL in a line are lost. Windows edits the file in place as this engine
  // does. For these files only the values read back are compared.
  bool wineRewrites = false;
};

const std::vector<WriteCase>& writeCorpus() {
  static const std::vector<WriteCase> corpus = {
      {"new file", "", {{"s", "k", "v"}, {"s", "j", "w"}, {"t", "k", "v"}}},
      {"replace", "[s]\r\nk=old\r\nz=1\r\n", {{"s", "k", "new"}}},
      {"replace, other case", "[S]\r\nKey=1\r\n", {{"s", "KEY", "2"}}},
      {"add key before next section", "[a]\r\nx=1\r\n[b]\r\ny=2\r\n", {{"a", "k", "v"}}},
      {"add section", "[a]\r\nx=1\r\n", {{"b", "k", "v"}}},
      {"no final break, add key", "[a]\r\nx=1", {{"a", "k", "v"}}},
      {"no final break, add section", "[a]\r\nx=1", {{"b", "k", "v"}}},
      {"blank line between sections", "[a]\r\nx=1\r\n\r\n[b]\r\ny=2\r\n", {{"a", "k", "v"}}, true},
      {"blanks around =", "[s]\r\n k = old \r\n", {{"s", "k", "new"}}, true},
      {"leading blanks of a value", "[s]\r\nk=1\r\n", {{"s", "k", "  v "}}},
      {"GBK names", "[" + kSetupSection + "]\r\n", {{kSetupSection, kNameKey, kTrue}, {kTrailBracket, "k", "v"}}},
      {"data block", "[a]\r\nx=1\r\n" + kBlock + "\r\n[b]\r\ny=2\r\n", {{"b", "z", "3"}, {"a", "x", "4"}}, true},
      {"duplicate sections", "[s]\r\nk=1\r\n[s]\r\nk=2\r\n", {{"s", "k", "3"}, {"s", "j", "4"}}},
      {"key without =", "[s]\r\nk\r\n", {{"s", "k", "v"}}},
      {"comments", "; head\r\n[s]\r\n; note\r\nk=1\r\n", {{"s", "k", "2"}, {"s", "j", "3"}}},
      {"quoted old value", "[s]\r\nk=\"old\"\r\n", {{"s", "k", "v"}}},
      {"LF file", "[s]\nk=1\n", {{"s", "k", "2"}, {"s", "j", "3"}}, true},
      {"same value", "[s]\r\nk=1\r\n", {{"s", "k", "1"}}},
  };
  return corpus;
}

TEST_F(Kernel32Test, WritesAgree) {
  for (const WriteCase& c : writeCorpus()) {
    const Text ours = path("ours" + std::to_string(files_) + ".ini");
    const Text theirs = path("theirs" + std::to_string(files_++) + ".ini");
    if (!c.before.empty()) {
      put(ours, c.before);
      put(theirs, c.before);
    }
    for (const Write& w : c.writes) {
      ASSERT_TRUE(writeProfileString(scratch_.fs(), ours, w.section, w.key, w.value)) << c.what;
      ASSERT_TRUE(WritePrivateProfileStringA(w.section.c_str(), w.key.c_str(), w.value.c_str(), theirs.c_str()))
          << c.what;
    }
    const Bytes got = readWholeFile(scratch_.fs(), ours);
    const Bytes expected = readWholeFile(scratch_.fs(), theirs);
    if (!c.wineRewrites) {
      EXPECT_TRUE(got == expected) << c.what << "\n  ours:   " << show(got) << "\n  system: " << show(expected);
    }
    for (const Write& w : c.writes) {
      const Text a = readProfileString(scratch_.fs(), ours, w.section, w.key);
      const Text b = systemRead(theirs, w.section, w.key);
      EXPECT_TRUE(a == b) << c.what << ": [" << show(w.section) << "] " << show(w.key) << "\n  ours:   " << show(a)
                          << "\n  system: " << show(b);
    }
  }
}

}  // namespace
}  // namespace zul
