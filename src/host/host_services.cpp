#include "host/host_services.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>

namespace plugstore {

TextLine& TextLine::operator<<(std::string_view text) {
  for (char c : text) {
    if (len_ >= kCapacity) break;
    buf_[len_++] = c;
  }
  return *this;
}

TextLine& TextLine::operator<<(int value) {
  std::array<char, 32> tmp{};
  const int n = std::snprintf(tmp.data(), tmp.size(), "%d", value);
  return *this << std::string_view(tmp.data(), n > 0 ? static_cast<std::size_t>(n) : 0U);
}

TextLine& TextLine::operator<<(double value) {
  std::array<char, 48> tmp{};
  int n = std::snprintf(tmp.data(), tmp.size(), "%.15G", value);
  if (n < 0) n = 0;
  // A real always reads as one: 99 is written "99.0", as a list-directed
  // write of a real would show it.
  const std::string_view text(tmp.data(), static_cast<std::size_t>(n));
  if (std::isfinite(value) && text.find_first_of(".E") == std::string_view::npos) {
    return *this << text << ".0";
  }
  return *this << text;
}

void report(const State& st, HostServices& host, std::string_view severity, std::string_view text) {
  host.messages(-1, trimTrailingBlanks(text), severity, st.store.unit, st.store.type);
}

void fatalStop(State& st, HostServices& host, std::string_view severity, std::string_view text) {
  report(st, host, severity, text);
  st.stopped = true;
  throw FatalStop{};
}

std::string_view trimTrailingBlanks(std::string_view text) {
  std::size_t n = text.size();
  while (n > 0 && (text[n - 1] == ' ' || text[n - 1] == '\0')) --n;
  return text.substr(0, n);
}

int32_t truncateToInt(double value) {
  constexpr double kLow = static_cast<double>(std::numeric_limits<int32_t>::min());
  constexpr double kHigh = static_cast<double>(std::numeric_limits<int32_t>::max());
  if (std::isnan(value)) return std::numeric_limits<int32_t>::min();
  const double t = std::trunc(value);
  if (t < kLow || t > kHigh) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(t);
}

bool allFinite(const double* x, int n) {
  // x - x is 0 for a finite x and NaN for an infinity or a NaN, which stays
  // NaN in every sum. Four sums that do not wait for each other.
  std::array<double, 4> any{};
  int i = 0;
  for (; i + 4 <= n; i += 4) {
    for (std::size_t k = 0; k < any.size(); ++k) {
      any[k] += x[i + static_cast<int>(k)] - x[i + static_cast<int>(k)];
    }
  }
  for (; i < n; ++i) any[0] += x[i] - x[i];
  return (any[0] + any[1]) + (any[2] + any[3]) == 0.0;
}

}  // namespace plugstore
