#include "store/profile_reader.h"

#include <charconv>
#include <cstdint>
#include <limits>
#include <system_error>

namespace plugstore {

namespace {

// The loop takes at most this many records when no top plug ends it.
constexpr int kMaxProfileRecords = 402;

bool isBlank(char c) { return c == ' ' || c == '\t'; }
bool endsValue(char c) { return isBlank(c) || c == ',' || c == '/'; }
bool isDigit(char c) { return c >= '0' && c <= '9'; }

// A real constant: optional sign, digits with an optional decimal point, and
// an optional exponent led by E or D (either case) or by its sign alone. It is
// rewritten into the form that std::from_chars takes, which does not depend on
// the process locale.
bool parseReal(std::string_view tok, double& out) {
  std::array<char, 256> buf{};
  if (tok.size() + 1 > buf.size()) return false;
  std::size_t n = 0;
  std::size_t i = 0;
  if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) {
    if (tok[i] == '-') buf[n++] = '-';
    ++i;
  }
  std::size_t digits = 0;
  while (i < tok.size() && isDigit(tok[i])) {
    buf[n++] = tok[i++];
    ++digits;
  }
  if (i < tok.size() && tok[i] == '.') {
    buf[n++] = tok[i++];
    while (i < tok.size() && isDigit(tok[i])) {
      buf[n++] = tok[i++];
      ++digits;
    }
  }
  if (digits == 0) return false;
  if (i < tok.size()) {
    const char c = tok[i];
    if (c == 'e' || c == 'E' || c == 'd' || c == 'D') {
      ++i;
    } else if (c != '+' && c != '-') {
      return false;
    }
    buf[n++] = 'e';
    if (i < tok.size() && (tok[i] == '+' || tok[i] == '-')) buf[n++] = tok[i++];
    std::size_t expDigits = 0;
    while (i < tok.size() && isDigit(tok[i])) {
      buf[n++] = tok[i++];
      ++expDigits;
    }
    if (expDigits == 0 || i != tok.size()) return false;
  }
  const char* end = buf.data() + n;
  const auto [ptr, ec] = std::from_chars(buf.data(), end, out);
  return ec == std::errc() && ptr == end;
}

// The count of count*value: a positive integer. Counts beyond the eight
// values of a record are capped, since the rest is dropped anyway.
bool parseRepeat(std::string_view tok, std::size_t& count) {
  if (tok.empty()) return false;
  count = 0;
  for (char c : tok) {
    if (!isDigit(c)) return false;
    count = count * 10 + static_cast<std::size_t>(c - '0');
    if (count > 8) count = 9;
  }
  return count > 0;
}

// A message ending in the index of a record: the integer the reader took,
// or the number as read when it lies beyond any integer (an index of 1e20
// would otherwise be shown as -2147483648).
template <typename... Items>
TextLine withIndex(int32_t index, double read, const Items&... items) {
  if (index == std::numeric_limits<int32_t>::min() && read != static_cast<double>(index)) {
    return listLine(items..., read);
  }
  return listLine(items..., index);
}

}  // namespace

int BufferLines::next(std::string_view& line) {
  if (pos_ >= text_.size()) return kReadEnd;
  const std::size_t nl = text_.find('\n', pos_);
  const std::size_t stop = nl == std::string_view::npos ? text_.size() : nl;
  line = text_.substr(pos_, stop - pos_);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  pos_ = nl == std::string_view::npos ? text_.size() : nl + 1;
  return kReadOk;
}

int ProfileScanner::nextLine() {
  const int status = lines_.next(line_);
  if (status != kReadOk) line_ = {};
  pos_ = 0;
  return status;
}

int ProfileScanner::readRecord(std::array<double, 8>& values) {
  // Every record starts on a new line: what is left of the previous one
  // (values after the eighth, text after a slash or a bad value) is dropped.
  int status = nextLine();
  if (status != kReadOk) return status;
  std::size_t item = 0;
  bool commaMakesNull = true;  // at the start, or right after a comma
  while (item < values.size()) {
    while (pos_ < line_.size() && isBlank(line_[pos_])) ++pos_;
    if (pos_ >= line_.size()) {
      status = nextLine();
      if (status != kReadOk) return status;
      continue;
    }
    const char c = line_[pos_];
    if (c == ',') {
      if (commaMakesNull) ++item;
      commaMakesNull = true;
      ++pos_;
      continue;
    }
    if (c == '/') return kReadOk;
    const std::size_t start = pos_;
    while (pos_ < line_.size() && !endsValue(line_[pos_])) ++pos_;
    std::string_view tok = line_.substr(start, pos_ - start);
    std::size_t repeat = 1;
    const std::size_t star = tok.find('*');
    if (star != std::string_view::npos) {
      if (!parseRepeat(tok.substr(0, star), repeat)) return kReadBadValue;
      tok = tok.substr(star + 1);
    }
    const bool isNull = star != std::string_view::npos && tok.empty();
    double value = 0.0;
    if (!isNull && !parseReal(tok, value)) return kReadBadValue;
    for (; repeat > 0 && item < values.size(); --repeat, ++item) {
      if (!isNull) values[item] = value;
    }
    commaMakesNull = false;
  }
  return kReadOk;
}

void readProfileRecords(State& st, HostServices& host, ProfileLines& lines,
                        std::string_view source) {
  ProfileReader& r = st.profile;
  PlugTable& t = st.plugs;
  std::array<double, 8>& v = r.values;
  ProfileScanner scanner(lines);
  r.recordCount = 1;
  for (;;) {
    r.readStatus = scanner.readRecord(v);
    if (r.readStatus == kReadEnd) {
      host.stdoutLine(
          withIndex(r.lineNumber, r.lineIndex, "End of file encountered at line number=").view());
      return;
    }
    if (r.readStatus == kReadIoError) {
      host.stdoutLine(
          withIndex(r.lineNumber, r.lineIndex, "ERROR in reading file at line number=").view());
      const TextLine msg = withIndex(r.lineNumber, r.lineIndex, "ERROR in reading start profile",
                                     source, "at line number=");
      fatalStop(st, host, "FATAL", msg.view());
    }
    if (r.readStatus != kReadOk) {
      host.stdoutLine(
          withIndex(r.lineNumber, r.lineIndex, "unknown option=", r.readStatus, " at line number=")
              .view());
    }

    const int e = truncateToInt(v[0]);
    r.lineNumber = e;
    r.lineIndex = v[0];
    if (e > 0) {
      const int iDown = truncateToInt(v[6]);
      const int iUp = truncateToInt(v[7]);
      // Index 400 is the top sentinel and links outside 0 ... 400 leave the
      // table: such a record would corrupt the table or later chain walks.
      if (e >= kTopSentinel || iDown < 0 || iDown > kTopSentinel || iUp < 0 || iUp > kTopSentinel) {
        host.stdoutLine(withIndex(e, v[0],
                                  "Plug record not stored, index or link out of range at line "
                                  "number=")
                            .view());
      } else {
        Plug& p = t[e];
        p.zDown = truncateToInt(v[4] * 1000000.0);
        p.Cap = v[1] * 1000.0;
        p.Temp = v[2];
        p.Temp0 = v[3];
        p.zUp = truncateToInt(v[5] * 1000000.0);
        p.iDown = iDown;
        if (iDown == kBottomSentinel) t[kBottomSentinel].iUp = e;
        p.iUp = iUp;
        if (iUp == kTopSentinel) {
          t[kTopSentinel].iDown = e;  // the highest plug
          return;
        }
      }
    }

    ++r.recordCount;
    if (r.recordCount > kMaxProfileRecords) {
      host.stdoutLine(" WARNING : FILE NOT COMPLETELY READED");
      return;
    }
  }
}

void checkProfileChain(State& st, HostServices& host) {
  const PlugTable& t = st.plugs;
  std::array<bool, kPlugRecords> seen{};
  int p = t.first();
  int below = kBottomSentinel;
  // At most 399 plugs, then the top sentinel. The downward links must name
  // the same chain: swaps and insertions follow them, and a plug whose iDown
  // points elsewhere would tie the chain into a loop.
  for (int k = 0; k < kTopSentinel; ++k) {
    if (p == kTopSentinel) {
      if (k > 0) return;
      break;  // no plug at all
    }
    if (p <= kBottomSentinel || p > kTopSentinel || t[p].Cap <= 0.0 ||
        seen[static_cast<std::size_t>(p)] || t[p].iDown != below) {
      break;
    }
    seen[static_cast<std::size_t>(p)] = true;
    below = p;
    p = t[p].iUp;
  }
  fatalStop(st, host, "FATAL",
            "The start profile does not form a chain of plugs from the bottom to the top");
}

}  // namespace plugstore
