// The unit's block of a host input file ("deck"): writing it from a
// scenario, and reading the numbers of such a block back (a raw parameter
// list copied from a host's input file is read the same way).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "plugstore/scenario.h"

namespace plugstore::runner {

// A token of host text that is not a number, with its line and column
// (1-based) in the text.
class HostTextError : public std::runtime_error {
 public:
  HostTextError(int line, int column, const std::string& message)
      : std::runtime_error(message), line(line), column(column) {}
  int line;
  int column;
};

// The numbers of host text: blanks and commas separate them, '!' starts a
// comment to the end of the line, a line whose first character is '*' is a
// comment, and a Fortran exponent ("1.5D3") is taken as "1.5e3".
std::vector<double> parseHostNumbers(std::string_view text);

// The values of the block that starts at the line "PARAMETERS n" of a deck:
// the n numbers that follow it.
std::vector<double> deckParameters(std::string_view deck);

// The initial values of the block "INPUTS n": after the n connections
// ("unit,output" pairs) come the n initial values.
std::vector<double> deckInitialInputs(std::string_view deck);

// The unit's block, with a comment that names every value; with several
// units one block each, the inputs they take from each other connected.
std::string writeDeck(const Scenario& scenario);

}  // namespace plugstore::runner
