// Boost.JSON's compiled part, built into the component where no compiled
// Boost library is at hand: the headers are included with their sources once,
// here.
#include <boost/json/src.hpp>
