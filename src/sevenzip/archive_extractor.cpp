#include "sevenzip/archive_extractor.h"

#include <algorithm>
#include <vector>

#include "sevenzip/extractor.h"

namespace zul {
namespace {

// Case-insensitive (ASCII) wildcard match with '*' and '?'.
bool wildcardMatch(std::string_view pattern, std::string_view name) {
  size_t p = 0, n = 0, star = std::string_view::npos, resume = 0;
  const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || lower(pattern[p]) == lower(name[n]))) {
      ++p;
      ++n;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// Splits at blanks outside quoted parts, keeping the quotes in the tokens.
std::vector<Text> rawTokens(const Text& line) {
  std::vector<Text> tokens;
  Text current;
  bool quoted = false, inToken = false;
  for (const char c : line) {
    if (c == '"') quoted = !quoted;
    if (!quoted && (c == ' ' || c == '\t')) {
      if (inToken) tokens.push_back(current);
      current.clear();
      inToken = false;
      continue;
    }
    current.push_back(c);
    inToken = true;
  }
  if (inToken) tokens.push_back(current);
  return tokens;
}

Text withoutQuotes(std::string_view s) {
  Text out;
  for (const char c : s) {
    if (c != '"') out.push_back(c);
  }
  return out;
}

// A switch value: a quoted value ends at its closing quote.
Text switchValue(std::string_view s) {
  if (!s.empty() && s[0] == '"') {
    const size_t close = s.find('"', 1);
    return Text(s.substr(1, close == std::string_view::npos ? std::string_view::npos : close - 1));
  }
  return withoutQuotes(s);
}

bool endsWithSeparator(const Text& s) {
  return !s.empty() && (s.back() == '/' || withTrailingSlash(s) == s);
}

}  // namespace

int sevenZip(FileSystem& fs, const Text& commandLine, const OwnerCallback& callback) {
  const std::vector<Text> tokens = rawTokens(commandLine);
  if (tokens.empty()) return kSevenZipUsageError;
  const Text command = asciiLower(withoutQuotes(tokens[0]));
  if (command != "x" && command != "e") return kSevenZipUsageError;
  sevenzip::ExtractOptions options;
  options.withPaths = command == "x";
  Text archive, destination;
  std::vector<Text> patterns;
  for (size_t i = 1; i < tokens.size(); ++i) {
    const Text& t = tokens[i];
    if (t.size() >= 2 && t[0] == '-') {
      const Text name = asciiLower(t.substr(1, 1));
      if (name == "p") {
        options.password = switchValue(std::string_view(t).substr(2));
      } else if (name == "o") {
        destination = switchValue(std::string_view(t).substr(2));
      } else {
        const Text whole = asciiLower(t);
        if (whole != "-hide" && whole != "-y" && whole != "-r" && whole != "-r-" && whole != "-aoa") {
          return kSevenZipUsageError;
        }
      }
      continue;
    }
    const Text value = withoutQuotes(t);
    if (archive.empty()) {
      archive = value;
    } else if (endsWithSeparator(value)) {
      destination = value;
    } else {
      patterns.push_back(value);
    }
  }
  if (archive.empty() || destination.empty()) return kSevenZipUsageError;
  const bool all = patterns.empty() || std::any_of(patterns.begin(), patterns.end(), [](const Text& p) {
                     return p == "*" || p == "*.*";
                   });
  if (!all) {
    options.select = [&patterns](const Text& entry) {
      for (const Text& p : patterns) {
        const bool withFolder = p.find('\\') != Text::npos;
        if (wildcardMatch(p, withFolder ? entry : fileNameOf(entry))) return true;
      }
      return false;
    };
  }
  options.onEvent = [&callback](const sevenzip::ExtractEvent& e) {
    if (!callback) return true;
    ExtractingInfo info;
    info.fileSize = e.size >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(e.size);
    info.writeSize = e.written >= 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(e.written);
    info.sourceFileName = e.entryName;
    info.destFileName = e.destinationPath;
    return callback(e.kind == sevenzip::ExtractEvent::Kind::kBegin ? kArchiveFileBegin : kArchiveFileProgress, info);
  };
  const sevenzip::Status status = sevenzip::extract(fs, archive, destination, options);
  if (callback && status != sevenzip::Status::kReadError) callback(kArchiveFinished, ExtractingInfo());
  return static_cast<int>(status);
}

Text extractCommandLine(const Text& archivePath, const Text& destinationFolder, const Text& password) {
  Text line = "x ";
  line += " \"";
  line += archivePath;
  line += "\" -hide -y \"";
  line += withTrailingSlash(destinationFolder);
  line += "\" ";
  line += "*";
  line += " -p\"";
  line += password;
  line += "\"";
  return line;
}

int notificationPercent(uint32_t fileSize, uint32_t writeSize) {
  if (fileSize == 0xFFFFFFFFu) return static_cast<int>(writeSize / 10);
  if (fileSize == 0) return 100;
  return static_cast<int>(uint64_t{writeSize} * 100 / fileSize);
}

bool extractArchive(FileSystem& fs, const Text& archivePath, const Text& destinationFolder, const Text& password,
                    const ExtractProgress& progress) {
  makeFolderPath(fs, destinationFolder);
  const OwnerCallback callback = [&progress](int state, const ExtractingInfo& info) {
    if (!progress) return true;
    if (state == kArchiveFinished) {
      progress("", 100);
    } else {
      progress(info.destFileName, notificationPercent(info.fileSize, info.writeSize));
    }
    return true;
  };
  return sevenZip(fs, extractCommandLine(archivePath, destinationFolder, password), callback) == 0;
}

bool makeFolderPath(FileSystem& fs, const Text& path) {
  std::vector<Text> parts = splitGbk(path, '\\');
  if (!parts.empty() && parts.back().empty()) parts.pop_back();
  if (parts.size() < 2 || parts[0].size() != 2 || parts[0][1] != ':') return false;
  Text current = parts[0];
  for (size_t i = 1; i < parts.size(); ++i) {
    const Text& part = parts[i];
    if (part.empty() || part == "." || part == "..") return false;
    current += "\\" + part;
    if (!fs.isDirectory(current) && !fs.createDirectory(current)) return false;
  }
  return true;
}

}  // namespace zul
