#include "archive_writer.h"

#include <errno.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <thread>

#include "archive_coders.h"
#include "archive_header.h"

namespace zul::pack {
namespace {

using namespace format7z;

constexpr size_t kIoChunk = 1 << 20;
constexpr uint32_t kDirectoryAttribute = 0x10;
constexpr uint64_t kMinShare = 16u << 20;  // below this, threads are not worth the cuts

std::string utf8OfGbk(std::string_view gbk) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(gbk);
  std::string out(gbk.size() * 3 + 4, '\0');
  char* in = const_cast<char*>(gbk.data());
  size_t inLeft = gbk.size();
  char* o = out.data();
  size_t outLeft = out.size();
  const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1);
  iconv_close(cd);
  if (!ok) return std::string(gbk);
  out.resize(out.size() - outLeft);
  return out;
}

// ---- Entries ----

struct Item {
  const ArchiveEntry* entry;
  std::u16string path;  // "/"-separated
  uint64_t size = 0;
  bool x86 = false;
  std::string sortKey;  // lower-case extension, then lower-case path
};

std::string describe(const ArchiveEntry& entry) {
  std::string what = "'" + utf8OfGbk(entry.name) + "'";
  if (!entry.hostPath.empty()) what += " (" + entry.hostPath + ")";
  return what;
}

// Why Windows cannot create a file or folder named `part`; null when it can.
const char* windowsNameProblem(const Text& part) {
  for (size_t i = 0; i < part.size(); ++i) {
    const auto b = static_cast<unsigned char>(part[i]);
    if (isGbkLeadByte(b) && i + 1 < part.size()) {
      ++i;  // a trail byte may be 0x5C or 0x7C ('|') and belongs to its character
    } else if (b < 0x20 || strchr("<>\"|?*", b) != nullptr) {
      return "holds a character that Windows file names cannot hold";
    }
  }
  // Neither byte is ever a GBK trail byte.
  if (part.back() == ' ' || part.back() == '.') return "ends with a blank or a dot, which Windows drops";
  const Text device = asciiLower(part.substr(0, part.find('.')));
  if (device == "con" || device == "prn" || device == "aux" || device == "nul" ||
      (device.size() == 4 && (device.starts_with("com") || device.starts_with("lpt")) && device[3] >= '1' &&
       device[3] <= '9')) {
    return "is a device name on Windows";
  }
  return nullptr;
}

bool prepareItem(const ArchiveEntry& entry, Item* item, std::string* error) {
  item->entry = &entry;
  const std::vector<Text> parts = [&] {
    Text slashes = entry.name;
    for (size_t i = 0; i < slashes.size(); ++i) {
      if (isGbkLeadByte(static_cast<unsigned char>(slashes[i]))) {
        ++i;
      } else if (slashes[i] == '/') {
        slashes[i] = '\\';
      }
    }
    std::vector<Text> split = splitGbk(slashes, '\\');
    if (split.size() > 1 && split.back().empty()) split.pop_back();  // "folder\"
    return split;
  }();
  Text normalised;
  for (const Text& part : parts) {
    if (part.empty() || part == "." || part == ".." || part.find(':') != Text::npos) {
      *error = describe(entry) + ": the archive name must be a relative path without empty, \".\" or \"..\" parts";
      return false;
    }
    if (const char* problem = windowsNameProblem(part)) {
      *error = describe(entry) + ": the archive name " + problem;
      return false;
    }
    if (!normalised.empty()) normalised += '/';
    normalised += part;
  }
  if (!gbkToUtf16(normalised, &item->path)) {
    *error = describe(entry) + ": the archive name is not valid GBK text";
    return false;
  }
  if (entry.isDirectory) return true;
  if (entry.hostPath.empty()) {
    item->size = entry.data.size();
  } else {
    struct stat st;
    if (stat(entry.hostPath.c_str(), &st) != 0) {
      *error = describe(entry) + ": cannot read: " + strerror(errno);
      return false;
    }
    if (!S_ISREG(st.st_mode)) {
      *error = describe(entry) + ": not a regular file";
      return false;
    }
    item->size = static_cast<uint64_t>(st.st_size);
  }
  const Text base = asciiLower(parts.back());
  const size_t dot = base.rfind('.');
  const Text extension = dot == Text::npos ? Text() : base.substr(dot + 1);
  item->x86 = extension == "exe" || extension == "dll" || extension == "sys" || extension == "ocx";
  item->sortKey = extension + '\0' + asciiLower(normalised);
  return true;
}

std::u16string foldCase(const std::u16string& s) {
  std::u16string folded = s;
  for (char16_t& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char16_t>(c - 'A' + 'a');
  }
  return folded;
}

// ---- Compression ----
//
// A folder is one LZMA2 stream. Threads share the work in blocks: a block is
// a byte range of a folder's stream compressed on its own into a raw LZMA2
// stream, which starts with a dictionary reset, so the blocks of a folder
// joined without their end markers (but the last) form the folder's stream.
// The x86 filter keeps state across the whole stream, so a folder that takes
// it is one block.

struct FolderPlan {
  std::vector<const Item*> items;
  uint64_t bytes = 0;
  bool x86 = false;
  uint32_t dictionarySize = 0;
};

// A CRC-32 of a piece of one item's contents.
struct Piece {
  size_t item;  // index in the folder's items
  uint32_t crc;
  uint64_t length;
};

struct Block {
  size_t folder = 0;
  uint64_t begin = 0, end = 0;  // byte range of the folder's stream
  bool last = false;            // the folder's last block keeps its end marker
  uint8_t lzma2Property = 0;
  std::vector<Piece> pieces;
  FILE* scratch = nullptr;      // the compressed bytes
  ~Block() {
    if (scratch != nullptr) fclose(scratch);
  }
};

// An unlinked temporary file in `folder`, so that it vanishes with the process.
FILE* openScratch(const std::string& folder) {
  std::string pattern = folder + "/.zulpack-XXXXXX";
  const int fd = mkstemp(pattern.data());
  if (fd < 0) return nullptr;
  unlink(pattern.c_str());
  FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) close(fd);
  return file;
}

// Reads [begin, end) of a folder's stream, item by item, checking that host
// files still have the size they had when they were listed.
class RangeReader {
 public:
  RangeReader(const FolderPlan& plan, const std::atomic<bool>& cancelled) : plan_(plan), cancelled_(cancelled) {}

  // Calls consume(itemIndex, data, size) for every piece in order.
  template <typename Consume>
  bool read(uint64_t begin, uint64_t end, Consume consume, std::string* error) {
    std::vector<uint8_t> buffer(kIoChunk);
    uint64_t itemStart = 0;
    for (size_t i = 0; i < plan_.items.size() && itemStart < end; itemStart += plan_.items[i]->size, ++i) {
      const Item& item = *plan_.items[i];
      const uint64_t itemEnd = itemStart + item.size;
      if (itemEnd <= begin) continue;
      const uint64_t from = std::max(begin, itemStart) - itemStart;
      const uint64_t to = std::min(end, itemEnd) - itemStart;
      const ArchiveEntry& entry = *item.entry;
      if (entry.hostPath.empty()) {
        for (uint64_t at = from; at < to && !cancelled_; at += kIoChunk) {
          const size_t n = static_cast<size_t>(std::min<uint64_t>(kIoChunk, to - at));
          if (!consume(i, reinterpret_cast<const uint8_t*>(entry.data.data()) + at, n)) return false;
        }
        continue;
      }
      std::unique_ptr<FILE, decltype(&fclose)> in(fopen(entry.hostPath.c_str(), "rb"), fclose);
      if (!in || fseeko(in.get(), static_cast<off_t>(from), SEEK_SET) != 0) {
        *error = describe(entry) + ": cannot read: " + strerror(errno);
        return false;
      }
      for (uint64_t at = from; at < to && !cancelled_;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer.size(), to - at));
        const size_t n = fread(buffer.data(), 1, want, in.get());
        if (n != want) {
          *error = describe(entry) + (ferror(in.get()) ? ": read error" : ": the file shrank while it was being packed");
          return false;
        }
        if (!consume(i, buffer.data(), n)) return false;
        at += n;
      }
      if (to == item.size && !cancelled_ && fgetc(in.get()) != EOF) {
        *error = describe(entry) + ": the file grew while it was being packed";
        return false;
      }
    }
    return !cancelled_;
  }

 private:
  const FolderPlan& plan_;
  const std::atomic<bool>& cancelled_;
};

bool compressBlock(const FolderPlan& plan, int preset, const std::string& scratchFolder, Block* block,
                   std::atomic<uint64_t>& done, const std::atomic<bool>& cancelled, std::string* error) {
  block->scratch = openScratch(scratchFolder);
  if (block->scratch == nullptr) {
    *error = "cannot create a temporary file in '" + scratchFolder + "': " + strerror(errno);
    return false;
  }
  FileSink sink(block->scratch);
  LzmaEncoder encoder(sink);
  if (!encoder.start(plan.x86, preset, plan.dictionarySize, &block->lzma2Property)) {
    *error = "cannot start the LZMA2 encoder (level " + std::to_string(preset) + ")";
    return false;
  }
  bool encodeFailed = false;
  const auto consume = [&](size_t item, const uint8_t* data, size_t size) {
    if (block->pieces.empty() || block->pieces.back().item != item) {
      block->pieces.push_back(Piece{item, static_cast<uint32_t>(crc32(0, nullptr, 0)), 0});
    }
    Piece& piece = block->pieces.back();
    piece.crc = static_cast<uint32_t>(crc32_z(piece.crc, data, size));
    piece.length += size;
    done += size;
    encodeFailed = !encoder.write(data, size);
    return !encodeFailed;
  };
  RangeReader reader(plan, cancelled);
  if (!reader.read(block->begin, block->end, consume, error) && !encodeFailed) return false;
  if (encodeFailed || !encoder.finish() || fflush(block->scratch) != 0) {
    *error = "cannot write compressed data to a temporary file in '" + scratchFolder + "' (disk full?)";
    return false;
  }
  return true;
}

// Folders and blocks are planned on one line: the folders' streams one after
// the other, cut at every multiple of `share` (total / threads) so that each
// thread gets one share of the work and few cuts cost little compression. A
// cut inside executables starts a new folder at the next file, as their
// folders are one block each.
std::vector<FolderPlan> planFolders(const std::vector<Item>& items, const ArchiveOptions& options, uint64_t share) {
  std::vector<const Item*> streams;
  for (const Item& item : items) {
    if (!item.entry->isDirectory && item.size != 0) streams.push_back(&item);
  }
  std::vector<FolderPlan> folders;
  if (!options.solid) {
    for (const Item* item : streams) folders.push_back(FolderPlan{{item}, item->size, item->x86, 0});
    return folders;
  }
  // Executables first (they take the x86 filter), then the rest; by
  // extension so that similar files share a dictionary.
  std::stable_sort(streams.begin(), streams.end(), [](const Item* a, const Item* b) {
    if (a->x86 != b->x86) return a->x86;
    return a->sortKey < b->sortKey;
  });
  uint64_t position = 0, nextCut = share;
  for (const Item* item : streams) {
    const bool cut = item->x86 && position >= nextCut;
    while (nextCut <= position) nextCut += share;
    if (folders.empty() || folders.back().x86 != item->x86 || cut) folders.push_back(FolderPlan{{}, 0, item->x86, 0});
    folders.back().items.push_back(item);
    folders.back().bytes += item->size;
    position += item->size;
  }
  return folders;
}

std::vector<std::unique_ptr<Block>> planBlocks(std::vector<FolderPlan>& folders, int preset, uint64_t share) {
  constexpr uint64_t kMinBlock = 1u << 20;  // smaller slivers are not worth a dictionary restart
  std::vector<std::unique_ptr<Block>> blocks;
  uint64_t lineStart = 0;
  for (size_t f = 0; f < folders.size(); ++f) {
    FolderPlan& folder = folders[f];
    std::vector<uint64_t> cuts = {0};
    if (!folder.x86) {
      for (uint64_t cut = (lineStart / share + 1) * share; cut < lineStart + folder.bytes; cut += share) {
        if (cut - lineStart - cuts.back() >= kMinBlock && lineStart + folder.bytes - cut >= kMinBlock) {
          cuts.push_back(cut - lineStart);
        }
        if (share > UINT64_MAX - cut) break;
      }
    }
    cuts.push_back(folder.bytes);
    uint64_t largest = 0;
    for (size_t b = 0; b + 1 < cuts.size(); ++b) {
      auto block = std::make_unique<Block>();
      block->folder = f;
      block->begin = cuts[b];
      block->end = cuts[b + 1];
      block->last = b + 2 == cuts.size();
      largest = std::max(largest, block->end - block->begin);
      blocks.push_back(std::move(block));
    }
    folder.dictionarySize = dictionarySizeFor(preset, largest);
    lineStart += folder.bytes;
  }
  return blocks;
}

// Compresses every block on up to `options.threads` threads, largest first.
bool compressBlocks(const std::vector<FolderPlan>& folders, std::vector<std::unique_ptr<Block>>& blocks,
                    const ArchiveOptions& options, const std::string& scratchFolder, std::string* error) {
  std::vector<Block*> order;
  uint64_t total = 0;
  for (auto& block : blocks) {
    order.push_back(block.get());
    total += block->end - block->begin;
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const Block* a, const Block* b) { return a->end - a->begin > b->end - b->begin; });

  std::atomic<uint64_t> done{0};
  std::atomic<size_t> next{0};
  std::atomic<bool> cancelled{false};
  std::mutex mutex;
  std::condition_variable finished;
  std::string firstError;
  const size_t threadCount = std::min<size_t>(std::max(1, options.threads), std::max<size_t>(1, order.size()));
  size_t running = threadCount;

  const auto worker = [&] {
    for (;;) {
      const size_t at = next++;
      if (at >= order.size() || cancelled) break;
      std::string blockError;
      if (!compressBlock(folders[order[at]->folder], options.preset, scratchFolder, order[at], done, cancelled,
                         &blockError)) {
        std::lock_guard<std::mutex> lock(mutex);
        if (!cancelled && !blockError.empty()) firstError = blockError;
        cancelled = true;
        break;
      }
    }
    std::lock_guard<std::mutex> lock(mutex);
    --running;
    finished.notify_all();
  };

  std::vector<std::thread> threads;
  for (size_t i = 0; i < threadCount; ++i) threads.emplace_back(worker);
  {
    std::unique_lock<std::mutex> lock(mutex);
    while (running != 0) {
      finished.wait_for(lock, std::chrono::milliseconds(100));
      if (options.progress) {
        lock.unlock();
        options.progress(std::min(done.load(), total), total);
        lock.lock();
      }
    }
  }
  for (std::thread& t : threads) t.join();
  if (cancelled) {
    *error = firstError.empty() ? "compression failed" : firstError;
    return false;
  }
  return true;
}

// Writes a folder's blocks to `archive`, through AES when `key` is set, and
// fills in its coding and the CRC of each of its items.
bool writeFolder(const FolderPlan& plan, const std::vector<Block*>& blocks, const AesKey* key, FileSink& archive,
                 FolderCoding* coding, std::vector<uint32_t>* crcs) {
  if (blocks.empty()) return false;
  coding->x86 = plan.x86;
  coding->aes = key != nullptr;
  coding->lzma2Property = blocks.front()->lzma2Property;
  coding->unpackSize = plan.bytes;
  CipherSink cipher(archive);
  if (key != nullptr && !cipher.start(*key, &coding->aesProperties)) return false;
  Sink& out = key != nullptr ? static_cast<Sink&>(cipher) : archive;
  std::vector<uint8_t> buffer(kIoChunk);
  for (const Block* block : blocks) {
    if (fseeko(block->scratch, 0, SEEK_END) != 0) return false;
    const off_t size = ftello(block->scratch);
    if (size < 1 || fseeko(block->scratch, 0, SEEK_SET) != 0) return false;
    // LZMA2's end marker, the single byte 0x00, ends only the last block.
    uint64_t left = static_cast<uint64_t>(size) - (block->last ? 0 : 1);
    coding->lzmaSize += left;
    while (left != 0) {
      const size_t n = fread(buffer.data(), 1, static_cast<size_t>(std::min<uint64_t>(left, buffer.size())), block->scratch);
      if (n == 0 || !out.write(buffer.data(), n)) return false;
      left -= n;
    }
    if (!block->last && fgetc(block->scratch) != 0) return false;
  }
  if (key != nullptr && !cipher.finish()) return false;
  coding->packSize = key != nullptr ? (coding->lzmaSize + kAesBlockSize - 1) / kAesBlockSize * kAesBlockSize
                                    : coding->lzmaSize;

  crcs->assign(plan.items.size(), 0);
  std::vector<bool> started(plan.items.size(), false);
  for (const Block* block : blocks) {
    for (const Piece& piece : block->pieces) {
      uint32_t& crc = (*crcs)[piece.item];
      crc = started[piece.item] ? static_cast<uint32_t>(crc32_combine(crc, piece.crc, static_cast<z_off_t>(piece.length)))
                                : piece.crc;
      started[piece.item] = true;
    }
  }
  return true;
}

// ---- Headers ----

std::string buildHeader(const std::vector<FolderPlan>& plans, const std::vector<FolderCoding>& codings,
                        const std::vector<std::vector<uint32_t>>& crcs, const std::vector<const Item*>& order) {
  HeaderWriter h;
  h.byte(kHeader);
  if (!plans.empty()) {
    h.byte(kMainStreamsInfo);
    h.streams(0, codings, nullptr);
    h.byte(kSubStreamsInfo);
    const bool multiple = std::any_of(plans.begin(), plans.end(), [](const FolderPlan& p) { return p.items.size() != 1; });
    if (multiple) {
      h.byte(kNumUnpackStream);
      for (const FolderPlan& plan : plans) h.number(plan.items.size());
      h.byte(kSize);
      for (const FolderPlan& plan : plans) {
        for (size_t i = 0; i + 1 < plan.items.size(); ++i) h.number(plan.items[i]->size);
      }
    }
    h.byte(kCrc);
    h.byte(1);  // all defined
    for (const std::vector<uint32_t>& folderCrcs : crcs) {
      for (uint32_t crc : folderCrcs) h.u32(crc);
    }
    h.byte(kEnd);
    h.byte(kEnd);
  }

  h.byte(kFilesInfo);
  h.number(order.size());
  std::vector<bool> emptyStream, emptyFile;
  for (const Item* item : order) {
    const bool empty = item->entry->isDirectory || item->size == 0;
    emptyStream.push_back(empty);
    if (empty) emptyFile.push_back(!item->entry->isDirectory);
  }
  const auto property = [&h](uint8_t id, const HeaderWriter& body) {
    h.byte(id);
    h.number(body.out.size());
    h.bytes(body.out);
  };
  if (!emptyFile.empty()) {
    HeaderWriter body;
    body.bits(emptyStream);
    property(kEmptyStream, body);
    if (std::find(emptyFile.begin(), emptyFile.end(), true) != emptyFile.end()) {
      HeaderWriter files;
      files.bits(emptyFile);
      property(kEmptyFile, files);
    }
  }
  {
    HeaderWriter body;
    body.byte(0);  // not external
    for (const Item* item : order) {
      for (char16_t c : item->path) {
        body.byte(static_cast<uint8_t>(c & 0xFF));
        body.byte(static_cast<uint8_t>(c >> 8));
      }
      body.byte(0);
      body.byte(0);
    }
    property(kName, body);
  }
  std::vector<bool> hasTime;
  for (const Item* item : order) hasTime.push_back(item->entry->mtime != 0);
  if (std::find(hasTime.begin(), hasTime.end(), true) != hasTime.end()) {
    HeaderWriter body;
    const bool all = std::find(hasTime.begin(), hasTime.end(), false) == hasTime.end();
    body.byte(all ? 1 : 0);
    if (!all) body.bits(hasTime);
    body.byte(0);  // not external
    for (const Item* item : order) {
      if (item->entry->mtime != 0) body.u64(item->entry->mtime);
    }
    property(kMTime, body);
  }
  {
    HeaderWriter body;
    body.byte(1);  // all defined
    body.byte(0);  // not external
    for (const Item* item : order) {
      body.u32(item->entry->attributes | (item->entry->isDirectory ? kDirectoryAttribute : 0));
    }
    property(kWinAttributes, body);
  }
  h.byte(kEnd);
  h.byte(kEnd);
  return std::move(h.out);
}

// ---- Output file ----

// The archive file under construction; removed unless committed.
class PendingFile {
 public:
  ~PendingFile() {
    if (file_ != nullptr) fclose(file_);
    if (!path_.empty()) unlink(path_.c_str());
  }
  bool create(const std::string& target, std::string* error) {
    path_ = target + ".XXXXXX";
    const int fd = mkstemp(path_.data());
    if (fd >= 0) file_ = fdopen(fd, "wb");
    if (file_ == nullptr) {
      *error = "cannot create '" + target + "': " + strerror(errno);
      if (fd >= 0) {
        close(fd);
        unlink(path_.c_str());
      }
      path_.clear();
      return false;
    }
    fchmod(fd, 0644);
    return true;
  }
  FILE* file() { return file_; }
  bool commit(const std::string& target, std::string* error) {
    const bool ok = fflush(file_) == 0 && fsync(fileno(file_)) == 0;
    const bool closed = fclose(file_) == 0;
    file_ = nullptr;
    if (!ok || !closed || rename(path_.c_str(), target.c_str()) != 0) {
      *error = "cannot write '" + target + "': " + strerror(errno);
      return false;
    }
    path_.clear();
    return true;
  }

 private:
  std::string path_;
  FILE* file_ = nullptr;
};

std::string folderOfHostPath(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string volumeName(const std::string& baseName, int number) {
  char suffix[16];
  snprintf(suffix, sizeof suffix, ".%03d", number);
  return baseName + suffix;
}

}  // namespace

bool gbkToUtf16(std::string_view gbk, std::u16string* utf16) {
  utf16->clear();
  if (gbk.empty()) return true;
  iconv_t cd = iconv_open("UTF-16LE", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string out(gbk.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(gbk.data());
  size_t inLeft = gbk.size();
  char* o = out.data();
  size_t outLeft = out.size();
  const bool ok = iconv(cd, &in, &inLeft, &o, &outLeft) != static_cast<size_t>(-1) && inLeft == 0;
  iconv_close(cd);
  if (!ok) return false;
  const size_t bytes = out.size() - outLeft;
  for (size_t i = 0; i + 1 < bytes; i += 2) {
    const char16_t c = static_cast<char16_t>(static_cast<unsigned char>(out[i]) | static_cast<unsigned char>(out[i + 1]) << 8);
    if (c == 0) return false;
    utf16->push_back(c);
  }
  return true;
}

bool writeArchive(const std::vector<ArchiveEntry>& entries, const ArchiveOptions& options, const std::string& outPath,
                  std::string* error) {
  std::vector<Item> items(entries.size());
  std::set<std::u16string> seen;
  for (size_t i = 0; i < entries.size(); ++i) {
    if (!prepareItem(entries[i], &items[i], error)) return false;
    if (!seen.insert(foldCase(items[i].path)).second) {
      *error = describe(entries[i]) + ": more than one entry has this name";
      return false;
    }
  }

  std::unique_ptr<AesKey> key;
  if (!options.password.empty()) {
    std::u16string password;
    key = std::make_unique<AesKey>();
    if (!gbkToUtf16(options.password, &password)) {
      *error = "the password is not valid GBK text";
      return false;
    }
    if (!deriveAesKey(password, key.get())) {
      *error = "cannot derive the AES key";
      return false;
    }
  }

  uint64_t total = 0;
  for (const Item& item : items) total += item.entry->isDirectory ? 0 : item.size;
  const uint64_t threads = static_cast<uint64_t>(std::max(1, options.threads));
  const uint64_t share = threads == 1 ? UINT64_MAX : std::max(kMinShare, (total + threads - 1) / threads);
  std::vector<FolderPlan> plans = planFolders(items, options, share);
  std::vector<std::unique_ptr<Block>> blocks = planBlocks(plans, options.preset, share);
  if (!compressBlocks(plans, blocks, options, folderOfHostPath(outPath), error)) return false;

  PendingFile pending;
  if (!pending.create(outPath, error)) return false;
  FileSink archive(pending.file());
  uint8_t start[kStartHeaderSize] = {};
  const auto writeFailed = [&] {
    *error = "cannot write '" + outPath + "': " + strerror(errno);
    return false;
  };
  if (!archive.write(start, sizeof start)) return writeFailed();
  std::vector<FolderCoding> codings(plans.size());
  std::vector<std::vector<uint32_t>> crcs(plans.size());
  for (size_t f = 0; f < plans.size(); ++f) {
    std::vector<Block*> folderBlocks;
    for (auto& block : blocks) {
      if (block->folder == f) folderBlocks.push_back(block.get());
    }
    if (!writeFolder(plans[f], folderBlocks, key.get(), archive, &codings[f], &crcs[f])) return writeFailed();
  }

  // File list: the entries without contents in their given order, then the
  // others in the order of their streams.
  std::vector<const Item*> order;
  for (const Item& item : items) {
    if (item.entry->isDirectory || item.size == 0) order.push_back(&item);
  }
  for (const FolderPlan& plan : plans) order.insert(order.end(), plan.items.begin(), plan.items.end());
  const std::string header = buildHeader(plans, codings, crcs, order);

  uint64_t nextOffset = archive.written() - kStartHeaderSize;
  std::string next = header;
  if (options.compressHeaders || key) {
    // The file list is small: one LZMA2 block, then AES over it when set.
    StringSink compressed;
    LzmaEncoder encoder(compressed);
    FolderCoding coding;
    coding.unpackSize = header.size();
    if (!encoder.start(false, options.preset, dictionarySizeFor(options.preset, header.size()), &coding.lzma2Property) ||
        !encoder.write(reinterpret_cast<const uint8_t*>(header.data()), header.size()) || !encoder.finish()) {
      *error = "cannot compress the archive header";
      return false;
    }
    coding.lzmaSize = coding.packSize = compressed.bytes.size();
    StringSink packed;
    if (key) {
      coding.aes = true;
      CipherSink cipher(packed);
      if (!cipher.start(*key, &coding.aesProperties) ||
          !cipher.write(reinterpret_cast<const uint8_t*>(compressed.bytes.data()), compressed.bytes.size()) ||
          !cipher.finish()) {
        *error = "cannot encrypt the archive header";
        return false;
      }
      coding.packSize = packed.bytes.size();
    } else {
      packed.bytes = std::move(compressed.bytes);
    }
    HeaderWriter encoded;
    encoded.byte(kEncodedHeader);
    const std::vector<uint32_t> crc = {
        static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(header.data()), header.size()))};
    encoded.streams(nextOffset, {coding}, &crc);
    encoded.byte(kEnd);
    if (!archive.write(reinterpret_cast<const uint8_t*>(packed.bytes.data()), packed.bytes.size())) {
      return writeFailed();
    }
    nextOffset += packed.bytes.size();
    next = std::move(encoded.out);
  }
  if (!archive.write(reinterpret_cast<const uint8_t*>(next.data()), next.size())) return writeFailed();
  startHeader(nextOffset, next, start);
  if (fseek(pending.file(), 0, SEEK_SET) != 0 || fwrite(start, 1, sizeof start, pending.file()) != sizeof start) {
    return writeFailed();
  }
  if (!pending.commit(outPath, error)) return false;
  if (options.progress) options.progress(total, total);
  return true;
}

bool splitVolumes(const std::string& archivePath, uint64_t volumeSize, const std::string& baseName,
                  std::string* error, int* volumeCount) {
  if (volumeSize == 0) {
    *error = "the volume size must be above 0";
    return false;
  }
  std::unique_ptr<FILE, decltype(&fclose)> in(fopen(archivePath.c_str(), "rb"), fclose);
  struct stat st;
  if (!in || fstat(fileno(in.get()), &st) != 0) {
    *error = "cannot read '" + archivePath + "': " + strerror(errno);
    return false;
  }
  const uint64_t size = static_cast<uint64_t>(st.st_size);
  const uint64_t count = size == 0 ? 1 : (size + volumeSize - 1) / volumeSize;
  if (count > 999) {
    *error = "'" + archivePath + "' would need more than 999 volumes of " + std::to_string(volumeSize) + " bytes";
    return false;
  }
  std::vector<std::unique_ptr<PendingFile>> volumes;
  std::vector<uint8_t> buffer(kIoChunk);
  for (uint64_t v = 0; v < count; ++v) {
    volumes.push_back(std::make_unique<PendingFile>());
    const std::string name = volumeName(baseName, static_cast<int>(v + 1));
    if (!volumes.back()->create(name, error)) return false;
    uint64_t left = std::min(volumeSize, size - std::min(size, v * volumeSize));
    while (left != 0) {
      const size_t n = fread(buffer.data(), 1, static_cast<size_t>(std::min<uint64_t>(left, buffer.size())), in.get());
      if (n == 0 || fwrite(buffer.data(), 1, n, volumes.back()->file()) != n) {
        *error = "cannot copy '" + archivePath + "' to '" + name + "': " + strerror(errno);
        return false;
      }
      left -= n;
    }
  }
  for (uint64_t v = 0; v < count; ++v) {
    if (!volumes[v]->commit(volumeName(baseName, static_cast<int>(v + 1)), error)) {
      for (uint64_t done = 0; done < v; ++done) unlink(volumeName(baseName, static_cast<int>(done + 1)).c_str());
      return false;
    }
  }
  // A 7z volume reader goes on to the next number while such a file exists.
  for (int v = static_cast<int>(count) + 1; v <= 999; ++v) {
    if (unlink(volumeName(baseName, v).c_str()) != 0) break;
  }
  if (volumeCount != nullptr) *volumeCount = static_cast<int>(count);
  return true;
}

}  // namespace zul::pack
