// Stands in for the executable packer the installer runs over the
// uninstaller it builds. Appends one line per run to "packer.log" beside
// itself: the command line as it was given, then " | " and what it saw of
// the file named last: "MZ" when it starts like a program, "+mode" when it
// ends with an appended package-mode section. A pack run ("-1") rewrites
// the file through a temporary copy, as a real packer does, keeping every
// byte; an unpack run ("-d") leaves it alone. Exit code 0, or 1 when the
// file cannot be read.
#include <windows.h>
#include <shellapi.h>

#include <string>

namespace {

std::string readAll(const wchar_t* path) {
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  std::string data(GetFileSize(file, nullptr), '\0');
  DWORD got = 0;
  ReadFile(file, data.data(), static_cast<DWORD>(data.size()), &got, nullptr);
  CloseHandle(file);
  data.resize(got);
  return data;
}

bool writeAll(const std::wstring& path, const std::string& data) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  const bool ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr) &&
                  written == data.size();
  CloseHandle(file);
  return ok;
}

std::string toGbk(const std::wstring& text) {
  const int size = WideCharToMultiByte(936, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string gbk(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(936, 0, text.c_str(), static_cast<int>(text.size()), gbk.data(), size, nullptr, nullptr);
  return gbk;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(GetCommandLineW(), &argc);
  if (argc < 2) return 1;
  const std::wstring target = argv[argc - 1];
  const bool pack = std::wstring(argv[argc - 2]) == L"-1";
  const std::string data = readAll(target.c_str());

  // The package-mode section ends with its close marker and 0x01.
  static const char kModeClose[] = "ZUL-mark=\xc5\xe4\xd6\xc3\xb0\xfc" "B\x01";
  const size_t closeSize = sizeof kModeClose - 1;
  const bool marked = data.size() >= closeSize && data.compare(data.size() - closeSize, closeSize, kModeClose) == 0;

  std::string line = toGbk(GetCommandLineW()) + " |";
  if (data.compare(0, 2, "MZ") == 0) line += " MZ";
  if (marked) line += " +mode";
  line += "\r\n";

  wchar_t self[MAX_PATH];
  std::wstring log(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  log = log.substr(0, log.rfind(L'\\') + 1) + L"packer.log";
  HANDLE file = CreateFileW(log.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS, 0, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
  }
  if (data.empty()) return 1;
  if (pack) {
    const std::wstring temporary = target + L".packing";
    if (!writeAll(temporary, data) || !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) return 1;
  }
  return 0;
}
