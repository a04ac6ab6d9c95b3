// A plug-in for the tests: exports with both conventions and up to 15
// parameters, a recording load-time export and event handler, and, built
// with PROBE_CALLBACK, a load-time export that finds the uninstaller's
// callback through its discovery window.
//
// Build switches: PROBE_TAG (text at the start of every log line; it also
// makes each variant's bytes differ), PROBE_VETO (keso_msg answers 1 to
// event 2000 with parameter 1), PROBE_NO_EVENTS (no keso_msg).
// Log lines go to the file named by the environment variable ZUL_PLUGIN_LOG.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#define EXPORT extern "C" __declspec(dllexport)

namespace {

void logLine(const std::string& line) {
  wchar_t path[MAX_PATH];
  if (!GetEnvironmentVariableW(L"ZUL_PLUGIN_LOG", path, MAX_PATH)) return;
  if (FILE* f = _wfopen(path, L"ab")) {
    std::fputs((std::string(PROBE_TAG " ") + line + "\n").c_str(), f);
    std::fclose(f);
  }
}

std::string numbers(const int (&a)[15]) {
  std::string out;
  for (int v : a) {
    if (!out.empty()) out += ' ';
    out += std::to_string(v);
  }
  return out;
}

const char* kept = nullptr;

}  // namespace

EXPORT int __stdcall StdTwo(int a, int b) { return a * 100 + b; }
EXPORT int __cdecl CdeclThree(int a, int b, int c) { return a * 10000 + b * 100 + c; }

// 15 when argument i is i for every i, else minus the first index that is not.
EXPORT int __stdcall Fifteen(int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8, int a9, int a10,
                             int a11, int a12, int a13, int a14, int a15) {
  const int a[15] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15};
  for (int i = 0; i < 15; ++i)
    if (a[i] != i + 1) return -(i + 1);
  return 15;
}

// Recording twins of the above for packaged runs, where only the log shows
// what arrived.
EXPORT int __stdcall LogTwo(int a, int b) {
  logLine("two " + std::to_string(a) + " " + std::to_string(b));
  return a * 100 + b;
}
EXPORT int __cdecl LogThree(int a, int b, int c) {
  logLine("three " + std::to_string(a) + " " + std::to_string(b) + " " + std::to_string(c));
  return a * 10000 + b * 100 + c;
}

// Logs a text (its bytes as they came, or "null"), `count` bytes in hex (or
// "null"), a second text and an integer.
EXPORT int __stdcall LogTyped(const char* text, const unsigned char* bytes, int count, const char* other, int n) {
  std::string line = "typed ";
  line += text ? text : "null";
  line += " ";
  if (!bytes) line += "null";
  for (int i = 0; bytes && i < count; ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", bytes[i]);
    line += hex;
  }
  line += " ";
  line += other ? other : "null";
  logLine(line + " " + std::to_string(n));
  return 0;
}

// Calls so far in this module: two descriptors sharing one module count on.
EXPORT int __stdcall LogCount() {
  static int calls = 0;
  logLine("count " + std::to_string(++calls));
  return calls;
}

EXPORT int __stdcall TextLength(const char* text) { return text ? static_cast<int>(std::strlen(text)) : -1; }
EXPORT int __cdecl ByteAt(const unsigned char* bytes, int index) { return bytes ? bytes[index] : -1; }
EXPORT int __cdecl KeepText(const char* text) { return kept = text, 0; }
EXPORT int __cdecl KeptLength() { return kept ? static_cast<int>(std::strlen(kept)) : -1; }

EXPORT int __stdcall Record(int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8, int a9, int a10, int a11,
                            int a12, int a13, int a14, int a15) {
  const int a[15] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15};
  logLine("record " + numbers(a));
  return 0;
}

#ifndef PROBE_NO_EVENTS
EXPORT int __stdcall keso_msg(int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8, int a9, int a10,
                              int a11, int a12, int a13, int a14, int a15) {
  const int a[15] = {a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15};
  logLine("keso_msg " + numbers(a));
#ifdef PROBE_VETO
  return a1 == 2000 && a2 == 1 ? 1 : 0;
#else
  return 0;
#endif
}
#endif

#ifdef PROBE_CALLBACK
namespace {

// The uninstaller's record, as a plug-in declares it.
struct UninstallInfo {
  HWND host;
  const char* name;
  const char* version;
  const char* footer;
  const char* installDir;
};
using HostCallbackFn = INT_PTR(__stdcall*)(int command, INT_PTR argument, int reserved);

HostCallbackFn found = nullptr;

BOOL CALLBACK checkChild(HWND window, LPARAM) {
  // 备用的传递消息x_ (GBK)
  wchar_t prefix[32];
  const int n = MultiByteToWideChar(936, 0, "\xB1\xB8\xD3\xC3\xB5\xC4\xB4\xAB\xB5\xDD\xCF\xFB\xCF\xA2x_", -1, prefix, 32);
  wchar_t title[128];
  if (n < 2 || !GetWindowTextW(window, title, 128) || wcsncmp(title, prefix, n - 1) != 0) return TRUE;
  found = reinterpret_cast<HostCallbackFn>(static_cast<uintptr_t>(_wcstoui64(title + n - 1, nullptr, 10)));
  return FALSE;
}

BOOL CALLBACK checkTopLevel(HWND window, LPARAM) {
  EnumChildWindows(window, checkChild, 0);
  return found == nullptr;
}

}  // namespace

EXPORT int __stdcall UseCallback(const char* keep) {
  EnumThreadWindows(GetCurrentThreadId(), checkTopLevel, 0);
  if (!found) {
    logLine("no callback");
    return -1;
  }
  const auto* info = reinterpret_cast<const UninstallInfo*>(found(2001, 0, 0));
  logLine(std::string("info ") + (info->host ? "host" : "nohost") + "|" + info->name + "|" + info->version + "|" +
          info->footer + "|" + info->installDir);
  found(2002, reinterpret_cast<INT_PTR>(keep), 0);
  return static_cast<int>(found(7, 0, 0));
}
#endif
