// The parameter, input and output tables of the catalog, with the runner's
// default values, as plain text or as the Markdown reference page.
#pragma once

#include <string>

namespace plugstore::runner {

struct TableChoice {
  bool parameters = true;
  bool inputs = true;
  bool outputs = true;
};

std::string describeText(TableChoice choice);
std::string describeMarkdown();

}  // namespace plugstore::runner
