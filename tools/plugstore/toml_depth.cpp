#include "plugstore/toml_depth.h"

#include <vector>

namespace plugstore::runner {

namespace {

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  TomlDepthFault run() {
    while (!done() && fault_.line == 0) lineStart();
    return fault_;
  }

 private:
  [[nodiscard]] bool done() const { return at_ >= text_.size(); }
  [[nodiscard]] char peek(std::size_t ahead = 0) const {
    return at_ + ahead < text_.size() ? text_[at_ + ahead] : '\0';
  }
  void next() {
    if (text_[at_] == '\n') {
      ++line_;
      lineBegin_ = at_ + 1;
    }
    ++at_;
  }
  void blanks() {
    while (!done() && (peek() == ' ' || peek() == '\t' || peek() == '\r')) next();
  }
  void comment() {
    while (!done() && peek() != '\n') next();
  }
  // A string of any of the four kinds, from its opening quote.
  void string() {
    const char q = peek();
    const bool triple = peek(1) == q && peek(2) == q;
    for (int i = 0; i < (triple ? 3 : 1); ++i) next();
    while (!done()) {
      if (q == '"' && peek() == '\\') {
        next();
        if (!done()) next();
        continue;
      }
      if (peek() == q && (!triple || (peek(1) == q && peek(2) == q))) {
        for (int i = 0; i < (triple ? 3 : 1); ++i) next();
        return;
      }
      if (!triple && peek() == '\n') return;  // unterminated: the parser says so
      next();
    }
  }
  bool deeper(int depth) {
    if (depth <= kMaxTomlDepth || fault_.line != 0) return fault_.line != 0;
    fault_ = {line_, static_cast<int>(at_ - lineBegin_) + 1,
              "nested more than " + std::to_string(kMaxTomlDepth) +
                  " levels deep (the parts of dotted keys and table headers, arrays and inline "
                  "tables together)"};
    return true;
  }
  // The parts of a key, up to one of `ends` (left for the caller).
  int keyParts(int base, std::string_view ends) {
    int parts = 1;
    while (!done() && ends.find(peek()) == std::string_view::npos && peek() != '\n') {
      if (peek() == '"' || peek() == '\'') {
        string();
        continue;
      }
      if (peek() == '.') {
        ++parts;
        if (deeper(base + parts)) return parts;
      }
      next();
    }
    deeper(base + parts);
    return parts;
  }

  void lineStart() {
    blanks();
    if (done()) return;
    if (peek() == '\n') {
      next();
      return;
    }
    if (peek() == '#') {
      comment();
      return;
    }
    if (peek() == '[') {  // a table header
      header_ = keyParts(0, "]");
      comment();
      return;
    }
    value(header_ + keyParts(header_, "="));
  }

  // The value of a key at `depth`, with everything nested in it.
  void value(int depth) {
    struct Frame {
      char kind;
      int depth;
    };
    std::vector<Frame> open;
    int owner = depth;    // the depth the next value or key hangs from
    if (!done()) next();  // '='
    while (!done() && fault_.line == 0) {
      const char c = peek();
      if (c == '"' || c == '\'') {
        string();
      } else if (c == '#') {
        comment();
      } else if (c == '\n') {
        next();
        if (open.empty()) return;
      } else if (c == '[') {
        next();
        open.push_back({c, ++owner});
        if (deeper(owner)) return;
      } else if (c == '{') {  // its keys hang from the key that holds it
        next();
        open.push_back({c, owner});
        owner += keyParts(owner, "=}");
      } else if (c == ']' || c == '}') {
        next();
        if (!open.empty()) open.pop_back();
        owner = open.empty() ? depth : open.back().depth;
      } else if (c == ',' && !open.empty() && open.back().kind == '{') {
        next();
        owner = open.back().depth + keyParts(open.back().depth, "=}");
      } else {
        next();
      }
    }
  }

  std::string_view text_;
  std::size_t at_ = 0;
  std::size_t lineBegin_ = 0;
  int line_ = 1;
  int header_ = 0;
  TomlDepthFault fault_;
};

}  // namespace

TomlDepthFault tomlDepthFault(std::string_view text) { return Scanner(text).run(); }

}  // namespace plugstore::runner
