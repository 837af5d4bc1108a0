// Fluid properties and heat-transfer coefficients of immersed heat exchangers.
#pragma once

namespace plugstore {}  // namespace plugstore
