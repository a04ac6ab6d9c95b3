// Editing the resources of an executable file on disk
// (BeginUpdateResource / UpdateResource / EndUpdateResource).
//
// Beware: the update rewrites the file and may drop data appended after the
// executable image; callers that keep data there restore it themselves.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace zul {

// A resource type or name: a 16-bit integer id, or a text when `text` is
// not empty.
struct ResourceName {
  uint16_t id = 0;
  Text text;  // GBK; takes precedence over `id`
};

struct ResourceChange {
  ResourceName type;
  ResourceName name;
  uint16_t language = 0;  // LANGID; 0 is neutral
  Bytes data;             // the new data; replaces an entry with the same type, name and language
};

inline constexpr uint16_t kResourceTypeIcon = 3;        // RT_ICON
inline constexpr uint16_t kResourceTypeGroupIcon = 14;  // RT_GROUP_ICON
inline constexpr uint16_t kResourceTypeVersion = 16;    // RT_VERSION

class ResourceUpdater {
 public:
  virtual ~ResourceUpdater() = default;

  // Opens `exePath` for a resource update that keeps the existing
  // resources, applies `changes` in order and commits. With no changes this
  // is the bare open-and-commit. False when any step failed; a failure
  // before the commit discards every change, so the file's resources are
  // then as before.
  virtual bool apply(const Text& exePath, const std::vector<ResourceChange>& changes) = 0;
};

}  // namespace zul
