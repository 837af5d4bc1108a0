// The parameter, input and output tables of the catalog, with the runner's
// default values, as plain text or as the Markdown reference page.
#pragma once

#include <string>
#include <string_view>

namespace plugstore::runner {

struct TableChoice {
  bool parameters = true;
  bool inputs = true;
  bool outputs = true;
};

std::string describeText(TableChoice choice);
// The entries whose name is `pattern` ('*' matches any run of characters),
// from all three tables; throws std::runtime_error naming the nearest known
// name when there is none.
std::string describeName(std::string_view pattern);
std::string describeMarkdown();

}  // namespace plugstore::runner
