#include "sevenzip/extractor.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "sevenzip/crc32.h"
#include "sevenzip/folder_decoder.h"
#include "sevenzip/text_codec.h"

namespace zul::sevenzip {
namespace {

constexpr size_t kChunk = 1 << 20;
constexpr uint32_t kKeptAttributes = kAttributeReadOnly | kAttributeHidden | kAttributeSystem | kAttributeArchive;

bool isReservedDeviceName(std::u16string_view component) {
  // The part before the first dot, without trailing blanks, case-insensitive.
  std::u16string base(component.substr(0, component.find(u'.')));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  for (char16_t& c : base) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  for (const char16_t* name : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"}) {
    if (base == name) return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, u"COM") == 0 || base.compare(0, 3, u"LPT") == 0) &&
      ((base[3] >= u'0' && base[3] <= u'9') || base[3] == 0xB9 || base[3] == 0xB2 || base[3] == 0xB3)) {
    return true;
  }
  return false;
}

class Extraction {
 public:
  Extraction(FileSystem& fs, const Text& destination, const ExtractOptions& options, ExtractReport& report)
      : fs_(fs), destination_(withTrailingSlash(destination)), options_(options), report_(report) {}

  Status run(const Text& archivePath);

 private:
  struct Target {
    Text entryName;  // GBK, '\' separated
    Text path;       // full destination path
  };

  void fail(Status s, const Text& entryName) {
    if (status_ == Status::kOk) status_ = s;
    if (report_.failures++ == 0) report_.firstFailure = entryName;
  }
  bool notify(ExtractEvent::Kind kind, const Target& t, uint64_t size, uint64_t written) {
    if (!options_.onEvent || options_.onEvent({kind, t.entryName, t.path, size, written})) return true;
    cancelled_ = true;
    fail(Status::kCancelled, t.entryName);
    return false;
  }
  // Resolves an entry to its target; false (with the failure recorded) when
  // it is unsafe, false without a failure when it is not selected.
  bool resolve(const FileEntry& f, Target* t);
  bool makeParents(const Text& path);
  Text temporaryName(const Text& folder);
  Status extractFolder(ByteSource& source, const Archive& archive, size_t folderIndex);
  // Writes one file of `size` bytes read from `stream` (null for an empty
  // file). kCorrupt etc. from the stream end the folder; a write failure
  // or a CRC mismatch only fails this file.
  Status writeFile(Stream* stream, const FileEntry& f, const Target* t, bool* streamBroken);
  void finishDirectories(const Archive& archive);

  FileSystem& fs_;
  Text destination_;
  const ExtractOptions& options_;
  ExtractReport& report_;
  Status status_ = Status::kOk;
  bool cancelled_ = false;
  bool encrypted_ = false;  // the folder being extracted is encrypted
  std::vector<uint8_t> buffer_;
};

bool Extraction::resolve(const FileEntry& f, Target* t) {
  Text relative;
  const bool safe = safeRelativePath(f.name, &relative);
  t->entryName = relative;
  if (!safe) {
    bool lossless = true;
    t->entryName = gbkFromUtf16(f.name, &lossless);
    if (!options_.select || options_.select(t->entryName)) fail(Status::kUnsafeName, t->entryName);
    return false;
  }
  if (options_.select && !options_.select(relative)) return false;
  t->path = destination_ + (options_.withPaths ? relative : fileNameOf(relative));
  return true;
}

bool Extraction::makeParents(const Text& path) {
  const Text folder = folderOf(path);
  if (folder.size() + 1 <= destination_.size()) return true;
  if (fs_.isDirectory(folder)) return true;
  return makeParents(folder) && fs_.createDirectory(folder);
}

Text Extraction::temporaryName(const Text& folder) {
  for (unsigned n = 0;; ++n) {
    const Text name = folder + "\\zul~" + std::to_string(n) + ".tmp";
    if (!fs_.exists(name)) return name;
  }
}

Status Extraction::writeFile(Stream* stream, const FileEntry& f, const Target* t, bool* streamBroken) {
  std::unique_ptr<RandomFile> out;
  Text temp;
  bool writable = t != nullptr;
  if (t) {
    if (!notify(ExtractEvent::Kind::kBegin, *t, f.size, 0)) return Status::kCancelled;
    writable = makeParents(t->path) && !fs_.isDirectory(t->path);
    if (writable) {
      temp = temporaryName(folderOf(t->path));
      out = fs_.open(temp, OpenMode::kCreate);
      writable = out != nullptr;
    }
  }
  uint64_t done = 0;
  uint32_t crc = 0;
  Status readStatus = Status::kOk;
  while (done < f.size) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, f.size - done));
    readStatus = readFully(*stream, buffer_.data(), n);
    if (readStatus != Status::kOk) {
      *streamBroken = true;
      break;
    }
    crc = crc32Update(crc, buffer_.data(), n);
    if (writable && !out->writeAt(done, buffer_.data(), n)) writable = false;
    done += n;
    if (t && writable && done < f.size && !notify(ExtractEvent::Kind::kProgress, *t, f.size, done)) {
      readStatus = Status::kCancelled;
      break;
    }
  }
  out.reset();
  if (!t) return readStatus;
  Status result = readStatus;
  if (result == Status::kOk && f.crcDefined && crc != f.crc) result = Status::kCrcError;
  if (result == Status::kOk && !writable) result = Status::kWriteError;
  if (result == Status::kOk) {
    if (f.mtimeDefined) fs_.setModificationTime(temp, f.mtime);
    uint32_t existing = 0;
    if (fs_.getAttributes(t->path, &existing) && (existing & kAttributeReadOnly)) {
      fs_.setAttributes(t->path, kAttributeNormal);
    }
    if (!fs_.moveFile(temp, t->path)) result = Status::kWriteError;
  }
  if (result != Status::kOk) {
    if (!temp.empty()) fs_.removeFile(temp);
    // A broken stream is reported by the caller, which knows the folder.
    if (result == Status::kCrcError && encrypted_) result = Status::kWrongPassword;
    if (result != Status::kCancelled && !*streamBroken) fail(result, t->entryName);
    return readStatus;
  }
  if (f.attributesDefined && (f.attributes & kKeptAttributes & ~kAttributeArchive)) {
    fs_.setAttributes(t->path, f.attributes & kKeptAttributes);
  }
  ++report_.filesWritten;
  notify(ExtractEvent::Kind::kDone, *t, f.size, f.size);
  return Status::kOk;
}

Status Extraction::extractFolder(ByteSource& source, const Archive& archive, size_t folderIndex) {
  const std::vector<size_t>& files = archive.folderFiles[folderIndex].files;
  std::vector<Target> targets(files.size());
  std::vector<bool> wanted(files.size(), false);
  bool any = false;
  for (size_t i = 0; i < files.size(); ++i) {
    const FileEntry& f = archive.files[files[i]];
    wanted[i] = !f.isAnti && resolve(f, &targets[i]);
    any |= wanted[i];
  }
  if (!any) return Status::kOk;

  const bool encrypted = folderIsEncrypted(archive.folders[folderIndex]);
  encrypted_ = encrypted;
  std::unique_ptr<Stream> stream;
  Status s = openFolder(source, archive, folderIndex, options_.password, options_.limits, &stream);
  size_t i = 0;
  if (s == Status::kOk) {
    for (; i < files.size() && !cancelled_; ++i) {
      bool broken = false;
      const Status r = writeFile(stream.get(), archive.files[files[i]], wanted[i] ? &targets[i] : nullptr, &broken);
      if (broken) {
        s = encrypted && (r == Status::kCorrupt || r == Status::kCrcError) ? Status::kWrongPassword : r;
        if (wanted[i]) fail(s, targets[i].entryName);
        ++i;
        break;
      }
    }
  }
  // What the broken or unopened stream still held is lost.
  for (; i < files.size() && !cancelled_; ++i) {
    if (wanted[i]) fail(s, targets[i].entryName);
  }
  return Status::kOk;
}

void Extraction::finishDirectories(const Archive& archive) {
  // After the files, so that writing them does not touch the folder times.
  for (const FileEntry& f : archive.files) {
    if (!f.isDirectory || f.isAnti || !options_.withPaths) continue;
    Target t;
    if (!resolve(f, &t)) continue;
    if (f.mtimeDefined) fs_.setModificationTime(t.path, f.mtime);
    if (f.attributesDefined && (f.attributes & (kAttributeReadOnly | kAttributeHidden | kAttributeSystem))) {
      fs_.setAttributes(t.path, (f.attributes & kKeptAttributes) | kAttributeDirectory);
    }
  }
}

Status Extraction::run(const Text& archivePath) {
  ByteSource source;
  if (Status s = source.open(fs_, archivePath); s != Status::kOk) return s;
  Archive archive;
  if (Status s = readArchive(source, options_.password, options_.limits, &archive); s != Status::kOk) return s;
  if (!fs_.isDirectory(withoutTrailingSlash(destination_))) {
    // Create the destination and its missing parents; a host path of a
    // native tool may use '/' (never a GBK trail byte) as well.
    const auto parentOf = [](const Text& path) {
      const size_t slash = path.rfind('/');
      const Text folder = folderOf(path);
      return slash != Text::npos && slash > folder.size() ? path.substr(0, slash) : folder;
    };
    std::vector<Text> chain;
    for (Text p = withoutTrailingSlash(destination_); !p.empty() && !fs_.isDirectory(p); p = parentOf(p)) {
      chain.push_back(p);
    }
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
      if (!fs_.createDirectory(*it)) return Status::kWriteError;
    }
  }
  buffer_.resize(kChunk);

  // Folders and empty files first in archive order; streams folder by folder.
  for (const FileEntry& f : archive.files) {
    if (f.hasStream || f.isAnti) continue;
    Target t;
    if (!resolve(f, &t)) continue;
    if (f.isDirectory) {
      if (!options_.withPaths) continue;
      if (makeParents(t.path + "\\x") && (fs_.isDirectory(t.path) || fs_.createDirectory(t.path))) {
        ++report_.folders;
      } else {
        fail(Status::kWriteError, t.entryName);
      }
    } else {
      bool broken = false;
      writeFile(nullptr, f, &t, &broken);
    }
    if (cancelled_) return status_;
  }
  for (size_t i = 0; i < archive.folders.size() && !cancelled_; ++i) {
    if (Status s = extractFolder(source, archive, i); s != Status::kOk) return s;
  }
  if (!cancelled_) finishDirectories(archive);
  return status_;
}

}  // namespace

bool safeRelativePath(std::u16string_view name, Text* relative) {
  relative->clear();
  if (name.empty() || name[0] == u'/' || name[0] == u'\\') return false;
  size_t start = 0;
  bool any = false;
  while (start <= name.size()) {
    size_t end = name.find_first_of(u"/\\", start);
    if (end == std::u16string_view::npos) end = name.size();
    const std::u16string_view part = name.substr(start, end - start);
    start = end + 1;
    if (part.empty()) {
      if (end == name.size()) break;  // a trailing separator
      return false;
    }
    if (part == u"." || part == u"..") return false;
    if (part.back() == u'.' || part.back() == u' ') return false;
    for (const char16_t c : part) {
      if (c < 0x20 || c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' || c == u'|') {
        return false;
      }
    }
    if (isReservedDeviceName(part)) return false;
    bool lossless = true;
    const Text gbk = gbkFromUtf16(part, &lossless);
    if (!lossless) return false;
    if (any) relative->push_back('\\');
    *relative += gbk;
    any = true;
  }
  return any;
}

Status extract(FileSystem& fs, const Text& archivePath, const Text& destination, const ExtractOptions& options,
               ExtractReport* report) {
  ExtractReport local;
  Extraction extraction(fs, destination, options, report ? *report : local);
  return extraction.run(archivePath);
}

}  // namespace zul::sevenzip
