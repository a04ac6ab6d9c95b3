#include "config/data_block.h"

#include <algorithm>

namespace zul {

Bytes findDataBlock(std::string_view data, std::string_view name, std::string_view endMarker) {
  const Bytes opening = Bytes(name) + '\x01';
  const size_t open = data.find(opening);
  if (open == std::string_view::npos) return {};
  const std::string_view rest = data.substr(open + opening.size());
  const size_t close = rest.find(Bytes(name) + Bytes(endMarker));
  if (close == std::string_view::npos) return {};
  return Bytes(rest.substr(0, close));
}

Bytes replaceReferences(std::string_view data, const std::vector<Text>& references,
                        const std::vector<Bytes>& contents) {
  struct Hit {
    size_t position;
    size_t length;
    size_t index;
  };
  std::vector<Hit> hits;
  const size_t usable = std::min(references.size(), contents.size());
  for (size_t i = 0; i < usable; ++i) {
    const std::string_view reference = references[i];
    if (reference.empty()) continue;
    for (size_t at = data.find(reference); at != std::string_view::npos;
         at = data.find(reference, at + reference.size())) {
      hits.push_back({at, reference.size(), i});
    }
  }
  std::sort(hits.begin(), hits.end(), [](const Hit& a, const Hit& b) {
    return a.position != b.position ? a.position < b.position : a.length > b.length;
  });

  Bytes out;
  size_t done = 0;
  for (const Hit& hit : hits) {
    if (hit.position < done) continue;  // inside an occurrence already replaced
    out.append(data.substr(done, hit.position - done));
    out.append(contents[hit.index]);
    done = hit.position + hit.length;
  }
  out.append(data.substr(done));
  return out;
}

}  // namespace zul
