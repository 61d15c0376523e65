#pragma once

namespace sendara::edr_telemetry::filtration {

// Upper-cases ASCII letters only, as the classic C locale does; every other
// byte (including each byte of a multi-byte UTF-8 character) is kept.
constexpr char UpperAscii(char c) noexcept {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace sendara::edr_telemetry::filtration
