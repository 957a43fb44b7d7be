// labels.h - names with units, for the headers of the CSV files and the
// axes of the plots.
#pragma once

#include <string>
#include <vector>

#include "model/units.h"
#include "parent/outcome.h"

namespace vhost {

// The internal unit an entry point returns when the library does not
// convert its result ("dyn/cm2"), that of its quantity; "" when it has
// none.
std::string internalUnit(const std::string &entry);

// The unit the values of `e` are in: the user's unit of its quantity when
// the library converts it, its internal unit otherwise, the library's own
// for a mechprop; "" when none is known. Written with ² and ³.
std::string valueUnit(const Outcome &e, const Units &u);

// "yieldstress [dyn/cm²]", or the bare name without a unit.
std::string withUnit(const std::string &name, const std::string &unit);

// One line per entry point that returned a value, in the units `u`:
// "func_density = 2.41 g/cm³".
std::string pointValuesText(const Units &u, const std::vector<Outcome> &outcomes);

} // namespace vhost
