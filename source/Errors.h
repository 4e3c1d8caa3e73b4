// Internal inconsistencies ("Variable does not exist", "Cannot Resolve XYZ register", ...)
// are raised as this one exception type; the run flow shows its text and stops.
#pragma once
#include <stdexcept>

namespace korvid {

class KorvidError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace korvid
