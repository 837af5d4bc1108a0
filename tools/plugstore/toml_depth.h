// How deep a TOML text nests, found before it is parsed. Dotted keys,
// table headers, arrays and inline tables each add a level; the TOML
// library and the readers that walk its tables recurse once per level, so
// that a key of 40,000 parts would overflow the stack. Texts deeper than
// kMaxTomlDepth are refused with the place where the limit is passed.
#pragma once

#include <string>
#include <string_view>

namespace plugstore::runner {

inline constexpr int kMaxTomlDepth = 64;

struct TomlDepthFault {
  int line = 0;  // 1-based; 0: the text is fine
  int column = 0;
  std::string message;
};

TomlDepthFault tomlDepthFault(std::string_view text);

}  // namespace plugstore::runner
