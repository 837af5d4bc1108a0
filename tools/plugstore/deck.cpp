#include "plugstore/deck.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>

#include "plugstore/links.h"
#include "plugstore/names.h"

namespace plugstore::runner {

namespace {

bool separator(char c) { return c == ' ' || c == '\t' || c == ',' || c == '\r'; }

double parseToken(std::string token, int line, int column) {
  std::replace_if(
      token.begin(), token.end(), [](char c) { return c == 'd' || c == 'D'; }, 'e');
  double value = 0.0;
  const char* first = token.data();
  const char* last = token.data() + token.size();
  if (*first == '+') ++first;
  const auto r = std::from_chars(first, last, value);
  if (r.ec != std::errc() || r.ptr != last) {
    throw HostTextError(line, column,
                        "'" + token +
                            "' is not a number (names and equations of a host input file are "
                            "not evaluated here)");
  }
  return value;
}

struct Line {
  std::string_view text;
  int number;  // 1-based
};

std::vector<Line> splitLines(std::string_view text) {
  std::vector<Line> lines;
  int number = 1;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back({text.substr(0, end), number++});
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// Numbers of the lines from `first` on, up to `count` of them (all when
// count is negative).
std::vector<double> numbersFrom(const std::vector<Line>& lines, std::size_t first, long count) {
  std::vector<double> values;
  for (std::size_t l = first; l < lines.size(); ++l) {
    std::string_view t = lines[l].text;
    if (!t.empty() && t.front() == '*') continue;
    t = t.substr(0, t.find('!'));
    std::size_t i = 0;
    while (i < t.size()) {
      if (separator(t[i])) {
        ++i;
        continue;
      }
      const std::size_t start = i;
      while (i < t.size() && !separator(t[i])) ++i;
      if (count >= 0 && static_cast<long>(values.size()) == count) return values;
      values.push_back(parseToken(std::string(t.substr(start, i - start)), lines[l].number,
                                  static_cast<int>(start) + 1));
    }
  }
  return values;
}

// Values of the block "KEYWORD n"; `perItem` numbers per item.
std::vector<double> block(std::string_view deck, std::string_view keyword, long perItem,
                          long skipItems) {
  const std::vector<Line> lines = splitLines(deck);
  for (std::size_t l = 0; l < lines.size(); ++l) {
    std::istringstream in{std::string(lines[l].text)};
    std::string word;
    long count = 0;
    if (!(in >> word)) continue;
    std::transform(word.begin(), word.end(), word.begin(), [](char c) {
      return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    });
    if (word != keyword) continue;
    if (!(in >> count) || count < 0) {
      throw HostTextError(lines[l].number, 1, std::string(keyword) + " needs a count");
    }
    const long wanted = count * (perItem + skipItems);
    std::vector<double> values = numbersFrom(lines, l + 1, wanted);
    if (static_cast<long>(values.size()) < wanted) {
      throw HostTextError(lines[l].number, 1,
                          std::string(keyword) + " " + std::to_string(count) + " is followed by " +
                              std::to_string(values.size()) + " numbers instead of " +
                              std::to_string(wanted));
    }
    values.erase(values.begin(), values.begin() + count * skipItems);
    return values;
  }
  throw HostTextError(0, 0, "no line \"" + std::string(keyword) + " n\" found");
}

std::string comment(const std::string& value, int number, const CatalogEntry& e,
                    const std::string& extra) {
  std::string line = value;
  line.resize(std::max<std::size_t>(line.size() + 1, 24), ' ');
  line += "! " + std::to_string(number) + " " + std::string(e.name);
  if (!e.unit.empty() && e.unit != "-") line += " [" + std::string(e.unit) + "]";
  if (!extra.empty()) line += " " + extra;
  return line + "\n";
}

}  // namespace

std::vector<double> parseHostNumbers(std::string_view text) {
  return numbersFrom(splitLines(text), 0, -1);
}

std::vector<double> deckParameters(std::string_view deck) {
  return block(deck, "PARAMETERS", 1, 0);
}

std::vector<double> deckInitialInputs(std::string_view deck) { return block(deck, "INPUTS", 1, 2); }

namespace {

// One unit's block, unit `index` of `whole`, whose numbers its links name.
std::string unitBlock(const Scenario& s, const Scenario& whole, std::size_t index) {
  std::ostringstream o;
  o << "* Store unit" << (s.name.empty() ? "" : " " + s.name) << " written by plugstore deck from "
    << s.file.filename().string() << "\n";
  if (!s.title.empty()) o << "* " << s.title << "\n";
  o << "* The scenario ran from " << formatNumber(s.start) << " h to " << formatNumber(s.stop)
    << " h in steps of " << formatNumber(s.step) << " h (the SIMULATION statement of the deck).\n";
  // The host settles connected units within each step by its control statements.
  if (hasLinks(whole)) {
    const std::string tolerance = formatNumber(s.tolerance);
    o << "* Its links to other units are the connections below; the host settles them within\n"
      << "* each step by the control statements TOLERANCES " << tolerance << " " << tolerance
      << " and LIMITS " << s.maxIterations << ",\n";
    if (s.laggedLinks) {
      o << "* while the scenario ran them lagged: each input took its output of the step before.\n";
    } else {
      o << "* as the scenario did (" << tolerance << " relative, at most " << s.maxIterations
        << " iterations).\n";
    }
  }
  const std::vector<standin::Connection> connections = connectionsOf(whole, index);
  o << "UNIT " << s.unit << " TYPE 8642 " << (s.title.empty() ? "Store" : s.title)
    << (s.name.empty() ? "" : " (" + s.name + ")") << "\n";
  o << "PARAMETERS " << kNumParameters << "\n";
  for (int n = 1; n <= kNumParameters; ++n) {
    const std::size_t i = static_cast<std::size_t>(n - 1);
    o << comment(formatNumber(s.parameters[i]), n, parameterEntry(n), "");
  }
  o << "INPUTS " << kNumInputs << "\n";
  for (int n = 1; n <= kNumInputs; ++n) {
    const InputSource& in = s.inputs[static_cast<std::size_t>(n - 1)];
    std::string how;
    if (in.schedule) how = "from " + in.origin + ": connect the unit that supplies it";
    for (const ControllerSetup& c : s.controllers) {
      if (c.input == n) how = "set by controller " + c.name + ": connect a controller unit";
    }
    if (s.tapping.port > 0 && inputEntry(n).name == indexed("port", s.tapping.port, ".massFlow")) {
      how = "set by the tapping list: connect the unit of the draw-offs";
    }
    std::string connection = "0,0";
    const bool connected = std::any_of(connections.begin(), connections.end(), [n](const auto& c) {
      return c.input == static_cast<std::size_t>(n - 1);
    });
    if (connected) {
      const Scenario& from = whole.units[in.link->unit];
      connection = std::to_string(from.unit) + "," + std::to_string(in.link->output);
      how = "output " + std::string(outputEntry(in.link->output).name) + " of unit " + from.name;
    }
    o << comment(connection, n, inputEntry(n), how);
  }
  o << "*** Initial values of the inputs (the constants of the scenario; a schedule gives its "
       "mean over the first step)\n";
  for (int n = 1; n <= kNumInputs; ++n) {
    const InputSource& in = s.inputs[static_cast<std::size_t>(n - 1)];
    o << comment(formatNumber(in.over(s.start, s.start + s.step)), n, inputEntry(n), "");
  }
  o << "LABELS 1\n\"" << s.label1 << "\"\n";
  return o.str();
}

}  // namespace

std::string writeDeck(const Scenario& s) {
  if (s.units.empty()) return unitBlock(s, s, 0);
  std::string o;
  for (std::size_t i = 0; i < s.units.size(); ++i) o += unitBlock(s.units[i], s, i) + "\n";
  return o;
}

}  // namespace plugstore::runner
