// Internal inconsistencies and unusable input end the run with a message;
// the run flow shows it and leaves the input untouched.
#pragma once
#include <stdexcept>

namespace korvid {

class KorvidError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace korvid
