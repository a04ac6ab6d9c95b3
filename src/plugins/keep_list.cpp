#include "plugins/keep_list.h"

namespace zul {

std::vector<Text> parseKeepList(std::string_view text) {
  std::vector<Text> pieces;
  size_t start = 0;
  while (start < text.size()) {
    const size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) {
      pieces.emplace_back(text.substr(start));
      break;
    }
    pieces.emplace_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return pieces;
}

}  // namespace zul
