#pragma once

#include <string>

namespace oru {

struct HttpHeader {
  std::string name;
  std::string value;
};

}  // namespace oru
