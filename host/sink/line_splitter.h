#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace siem_sink {

// Cuts a byte stream into events at line feeds, whatever pieces the bytes
// arrive in. A carriage return before a line feed is dropped, empty lines
// carry no event, and every other byte is kept as it came (no decoding: a
// UTF-8 text passes through unchanged).
class LineSplitter {
 public:
  // A line that grows beyond `maxLineBytes` without its line feed stops the
  // splitter: nothing is ever held for it without a bound.
  explicit LineSplitter(std::size_t maxLineBytes) : m_maxLineBytes(maxLineBytes) {}

  // Appends each line completed by `bytes` to `batch`, ended by a line feed,
  // and keeps the rest for the next call. Returns the number of lines
  // appended. After an overlong line it appends what came before it and
  // takes nothing more.
  std::uint64_t Feed(std::string_view bytes, std::string& batch);

  // The stream has ended: appends the unfinished last line, if any, as an
  // event of its own. Returns the number of lines appended (0 or 1).
  std::uint64_t Finish(std::string& batch);

  bool Overflowed() const { return m_overflowed; }

 private:
  std::uint64_t Append(std::string_view line, std::string& batch);

  const std::size_t m_maxLineBytes;
  std::string m_partial;
  bool m_overflowed = false;
};

}  // namespace siem_sink
