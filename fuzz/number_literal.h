#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

// One number as written in a JSON text, for the fuzz targets that compare
// Boost.JSON's reading of numbers with another.
struct NumberLiteral {
  std::string_view text;
  // Bytes after it in the JSON text: Boost.JSON 1.81 reads a literal with
  // 33 bytes or more left (from its first digit) otherwise than one nearer
  // the end, and the two may give different doubles (-92233.2036396843430).
  std::size_t following = 0;

  // The number literals of `json`, a JSON text, in order.
  static std::vector<NumberLiteral> All(std::string_view json) {
    std::vector<NumberLiteral> literals;
    for (std::size_t i = 0; i < json.size(); ++i) {
      if (json[i] == '"') {
        for (++i; i < json.size() && json[i] != '"'; ++i) {
          if (json[i] == '\\') ++i;
        }
        continue;
      }
      if (json[i] != '-' && (json[i] < '0' || json[i] > '9')) continue;
      const std::string_view text = json.substr(i, json.find_first_not_of("0123456789+-.eE", i) - i);
      literals.push_back({text, json.size() - i - text.size()});
      i += text.size() - 1;
    }
    return literals;
  }
};
