#pragma once
#include <string>
#include <vector>

namespace kestrane {

// Access keys for one menu level: an item keeps a key it marks with '&'; otherwise it gets the
// first letter or digit of its caption that no item before it on that level has taken.
// Returns the captions with each key marked by '&'.
std::vector<std::string> WithAccessKeys(const std::vector<std::string>& captions);

}  // namespace kestrane
