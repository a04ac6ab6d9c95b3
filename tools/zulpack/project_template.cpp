#include "project_template.h"

#include <zlib.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

namespace zul::pack {
namespace {

namespace fs = std::filesystem;

// The project's texts are UTF-8; build converts the .ini files to GBK.
// Flags are true only when they read 真; lists use the full-width comma ，.
constexpr char kDataIni[] = R"(; The package's main configuration, read by the installer at start.
; UTF-8 or GBK; zulpack build stores it as GBK. Comments start with ';'.
; A flag is true only when its value is 真; lists are separated by the
; full-width comma ，. %Name% variables are defined in variable.ini.

[禾弋软件安装配置]
; The product: wizard title, uninstall registration, and the base name of
; payload volumes (演示软件.001 ...).
禾弋软件名称=演示软件
软件版本=1.0.0
公司名称=演示软件工作室
; Not used by the installer; kept for the record.
压缩包文件名=演示软件.7z
; The main program, relative to the install folder: pinned to the taskbar,
; offered on the finish page, unpinned at uninstall.
包内的程序名=演示程序.cmd
; The install folder proposed when no earlier install is registered.
安装位置=%ProgramFiles%\%ProductName%
; When the user browses to a folder, append this name to it.
自动添加路径=真
浏览目录自动添加=演示软件
; Ticks of the components page: desktop shortcut，program group，quick launch.
基本组件勾选=真，真，真
; 1 builds uninst.exe in the install folder.
是否生成卸载程序=1
; 正常安装 (the wizard), 直接安装 (install at once, with progress) or
; 后台安装 (silent); the command line (-jp, -hp) wins over it.
安装模式=正常安装
安装后是否显示完成界面=真
; "-N": copy the payload out of the setup file before extracting it, with a
; wait window when the setup file has at least N MiB. Empty: no copy.
安装包封装模式=
; Set by zulpack build: --install-password fills 安装密码 (its MD5),
; --password fills safe, --volume-size fills 压缩分卷数 and 分卷大小.
安装密码=
safe=
压缩分卷数=
分卷大小=

[界面_可视]
; Show the components page and the install-location page.
选择组件可视=真
浏览目录可视=真

[安装包命令行]
; Command-line switches of the setup file: direct install, silent install,
; no finish page. Empty means the default shown.
jp=-jp
hp=-hp
hideend=-hideend

[新建快捷方式参数]
; Shortcuts: 欲运行的次数 entries, keys numbered from 1. 参数生成位置 lists
; folders separated by ，; %Uninst.exe% stands for the uninstaller.
欲运行的次数=2
参数快捷方式名1=演示软件
参数文件名1=演示程序.cmd
参数命令行1=
参数生成位置1=%Desktop%，%MenuDir%\%ProductName%
参数是否卸载1=真
快捷方式图标1=
快捷方式描述1=演示软件 %Version%
参数快捷方式名2=卸载演示软件
参数文件名2=%Uninst.exe%
参数命令行2=
参数生成位置2=%MenuDir%\%ProductName%
参数是否卸载2=真
快捷方式图标2=
快捷方式描述2=卸载演示软件

[解压后运行的参数]
; Programs run after the files are in place. 是否外部运行=真: the command is
; used as written (%InstallPath% is the install folder); otherwise it names a
; file in the install folder, optionally followed by a blank and arguments.
欲运行的次数=1
是否外部运行1=假
参数运行文件名1=演示程序.cmd /install
是否隐藏窗口1=真
是否等待返回1=真

[卸载时运行命令]
; Commands the uninstaller runs before it removes the files; same keys.
欲运行的次数=1
是否外部运行1=假
参数运行文件名1=演示程序.cmd /uninstall
是否隐藏窗口1=真
是否等待返回1=真

[完成后选项_主运行程序]
; Offer to run 包内的程序名 on the finish page.
显示=真

[完成后选项_执行程序]
; Offer to open a file of the install folder.
显示=真
文件路径=说明.txt
选项标题=查看说明

[完成后选项_访问网络]
; Offer to open a web page (left unticked here).
显示=假
网页地址=%Homepage%
选项标题=访问演示软件主页

[自述文本]
; The readme page shows the text of the data block that follows: the block
; name with the byte 0x01 after it, the text, the block name again and "end".
)"
                          "\xE8\x87\xAA\xE8\xBF\xB0\xE6\x96\x87\xE6\x9C\xAC_\xE5\xBC\x80\xE5\xA7\x8B\x01"  // 自述文本_开始
                          R"(演示软件 1.0.0 使用说明

本软件仅用于演示安装包的制作。
安装后可在开始菜单和桌面找到它的快捷方式，
卸载程序会删除它安装的全部文件。
)"
                          "\xE8\x87\xAA\xE8\xBF\xB0\xE6\x96\x87\xE6\x9C\xAC_\xE5\xBC\x80\xE5\xA7\x8B"
                          "end\n";

constexpr char kVariableIni[] = R"(; Variables: each section is one variable, named with its percent signs;
; its value is key 数据. The installer replaces %Name% in data.ini, the
; registry list and GUItext.ini before it reads them.
; The built-in ones below get their value from the installer itself
; (product name, version, Program Files, desktop, start-menu programs); a
; built-in without a section here is not replaced.
[%ProductName%]
数据=
[%Version%]
数据=
[%ProgramFiles%]
数据=
[%Desktop%]
数据=
[%MenuDir%]
数据=

; A variable of the package's own.
[%Homepage%]
数据=https://example.com/
)";

constexpr char kRegistryList[] = R"(; Registry entries written at install. See the README for the format.
; A key line [ROOT\path]; "remove" after it removes its values at uninstall.
[HKEY_CURRENT_USER\Software\演示软件] remove
@ = sz:演示软件
InstallDir = sz:%InstallPath%
Version = sz:1.0.0
Installs = dword:1
Flags = hex:01,00,ff
; import = settings.reg   (a .reg script of this folder, imported at install)
)";

// Windows batch files are read in the system's ANSI code page: ASCII only.
constexpr char kProgram[] =
    "@echo off\r\n"
    "rem Demo program of the example package.\r\n"
    "if /i \"%~1\"==\"/install\" (echo installed> \"%~dp0install.log\" & exit /b 0)\r\n"
    "if /i \"%~1\"==\"/uninstall\" (del /q \"%~dp0install.log\" 2>nul & exit /b 0)\r\n"
    "echo The demo program is installed in %~dp0\r\n"
    "pause\r\n";

constexpr char kReadme[] =
    "\xEF\xBB\xBF"
    "演示软件 1.0.0\r\n"
    "\r\n"
    "这是 zulpack init 生成的示例安装包中的说明文件。\r\n"
    "演示程序.cmd 在安装后运行一次（/install），卸载时再运行一次（/uninstall）。\r\n";

uint32_t blend(uint32_t a, uint32_t b, double t) {
  uint32_t out = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const double x = ((a >> shift) & 0xFF) * (1 - t) + ((b >> shift) & 0xFF) * t;
    out |= static_cast<uint32_t>(std::lround(x)) << shift;
  }
  return out;
}

// A vertical gradient with a light diagonal band: recognisable, and cheap
// to compress.
Bytes picture(int width, int height, uint32_t top, uint32_t bottom) {
  return makePng(width, height, [=](int x, int y) {
    uint32_t c = blend(top, bottom, height > 1 ? static_cast<double>(y) / (height - 1) : 0);
    const int band = (x + y) % 96;
    if (band < 12) c = blend(c, 0xFFFFFF, 0.25);
    return c;
  });
}

void put32be(Bytes* out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<char>(v >> shift));
}
void put16le(Bytes* out, uint32_t v) {
  out->push_back(static_cast<char>(v));
  out->push_back(static_cast<char>(v >> 8));
}
void put32le(Bytes* out, uint32_t v) {
  put16le(out, v & 0xFFFF);
  put16le(out, v >> 16);
}

void pngChunk(Bytes* out, const char* type, const Bytes& data) {
  put32be(out, static_cast<uint32_t>(data.size()));
  const Bytes body = Bytes(type, 4) + data;
  out->append(body);
  put32be(out, static_cast<uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()))));
}

struct File {
  const char* relative;  // UTF-8, '/' separated
  Bytes data;
};

std::vector<File> exampleFiles() {
  const auto folderIcon = [](int x, int y) -> uint32_t {
    const int dx = x - 16, dy = y - 16;
    if (dx * dx + dy * dy > 15 * 15) return 0x00000000;  // transparent outside the disc
    return 0xFF000000 | blend(0x2A7DE1, 0x0B3D91, y / 31.0);
  };
  return {
      {"config/data.ini", kDataIni},
      {"config/variable.ini", kVariableIni},
      {"config/界面图片.jpg", picture(164, 288, 0x2A7DE1, 0x0B3D91)},
      {"config/界面小图片.jpg", picture(134, 53, 0x4A90E2, 0x1F5FAF)},
      {"config/界面大图片.jpg", picture(164, 288, 0x3C8DDC, 0x174A8C)},
      {"config/界面安装时图像.jpg", picture(453, 160, 0xEAF2FB, 0xB7D0EE)},
      {"config/卸载程序图标.ico", makeIcon(folderIcon)},
      {"payload/演示程序.cmd", kProgram},
      {"payload/说明.txt", kReadme},
      {"registry.txt", kRegistryList},
  };
}

}  // namespace

Bytes makePng(int width, int height, const std::function<uint32_t(int x, int y)>& pixel) {
  Bytes raw;
  raw.reserve(static_cast<size_t>(height) * (1 + 3 * static_cast<size_t>(width)));
  for (int y = 0; y < height; ++y) {
    raw.push_back(0);  // filter: none
    for (int x = 0; x < width; ++x) {
      const uint32_t c = pixel(x, y);
      raw.push_back(static_cast<char>(c >> 16));
      raw.push_back(static_cast<char>(c >> 8));
      raw.push_back(static_cast<char>(c));
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  Bytes packed(packedSize, '\0');
  compress2(reinterpret_cast<Bytef*>(packed.data()), &packedSize, reinterpret_cast<const Bytef*>(raw.data()),
            static_cast<uLong>(raw.size()), 9);
  packed.resize(packedSize);

  Bytes header;
  put32be(&header, static_cast<uint32_t>(width));
  put32be(&header, static_cast<uint32_t>(height));
  header += Bytes("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, no filter variants, no interlace
  Bytes png("\x89PNG\r\n\x1A\n", 8);
  pngChunk(&png, "IHDR", header);
  pngChunk(&png, "IDAT", packed);
  pngChunk(&png, "IEND", Bytes());
  return png;
}

Bytes makeIcon(const std::function<uint32_t(int x, int y)>& pixel) {
  constexpr int kSide = 32;
  constexpr uint32_t kInfoHeader = 40, kPixels = kSide * kSide * 4, kMask = kSide * 4;  // mask rows: 32 bits
  Bytes icon;
  put16le(&icon, 0);  // reserved
  put16le(&icon, 1);  // icon
  put16le(&icon, 1);  // one image
  icon.push_back(kSide);
  icon.push_back(kSide);
  icon.push_back(0);  // no palette
  icon.push_back(0);
  put16le(&icon, 1);   // planes
  put16le(&icon, 32);  // bits per pixel
  put32le(&icon, kInfoHeader + kPixels + kMask);
  put32le(&icon, 6 + 16);  // image offset
  put32le(&icon, kInfoHeader);
  put32le(&icon, kSide);
  put32le(&icon, kSide * 2);  // colour and mask heights together
  put16le(&icon, 1);
  put16le(&icon, 32);
  put32le(&icon, 0);  // uncompressed
  put32le(&icon, kPixels + kMask);
  for (int i = 0; i < 4; ++i) put32le(&icon, 0);
  for (int y = kSide - 1; y >= 0; --y) {  // bottom-up, BGRA
    for (int x = 0; x < kSide; ++x) put32le(&icon, pixel(x, y));
  }
  icon.append(kMask, '\0');  // alpha decides; the AND mask shows everything
  return icon;
}

bool writeExampleProject(const std::string& dir, std::string* error) {
  std::error_code ec;
  const fs::path root = fs::absolute(dir, ec);
  if (fs::exists(root, ec) && (!fs::is_directory(root, ec) || !fs::is_empty(root, ec))) {
    *error = dir + ": not an empty folder (init writes into a new or empty one)";
    return false;
  }
  fs::path created;  // the outermost folder made here
  for (fs::path p = root; !p.empty() && !fs::exists(p, ec) && p != p.parent_path(); p = p.parent_path()) created = p;
  const auto undo = [&] {
    std::error_code ignored;
    if (!created.empty()) {
      fs::remove_all(created, ignored);
      return;
    }
    for (const auto& item : fs::directory_iterator(root, ignored)) fs::remove_all(item.path(), ignored);
  };
  for (const File& file : exampleFiles()) {
    const fs::path path = root / file.relative;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(file.data.data(), static_cast<std::streamsize>(file.data.size()));
    out.close();
    if (ec || !out) {
      *error = path.string() + ": cannot be written" + (ec ? ": " + ec.message() : std::string());
      undo();
      return false;
    }
  }
  return true;
}

}  // namespace zul::pack
