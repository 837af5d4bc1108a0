// The component's proforma: the XML document from which the host's studio
// places a component, listing every parameter, input and output with its
// name, dimension, unit, range, default and meaning. Generated from the
// catalog and the runner's defaults.
#pragma once

#include <string>
#include <string_view>

namespace plugstore::runner {

// The studio's dimension and unit for a unit of the catalog; both empty when
// the studio has no name for it.
struct StudioUnit {
  std::string_view dimension;
  std::string_view unit;
};
StudioUnit studioUnit(std::string_view catalogUnit);

std::string proformaXml();

}  // namespace plugstore::runner
