#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace reference_host {

// Cuts the bytes of an event input into lines, for the readers of a stream
// and of a followed file alike. It counts the bytes its lines took, so that
// a reader can tell where in its file the last line handed out ended.
class LineSplitter {
 public:
  explicit LineSplitter(std::size_t maximumLine) : m_maximumLine(maximumLine) {}

  void Append(std::string_view bytes) { m_buffer.append(bytes); }

  // The next whole line without its line feed; false when no whole line is
  // there yet. A line longer than the maximum comes as its first
  // `maximumLine` bytes, which no parser takes for an event; the rest of it
  // is skipped.
  bool Next(std::string& line);
  // The unfinished last line of an input that ends without a line feed;
  // false when there is none.
  bool Rest(std::string& line);
  // The bytes of the lines handed out and skipped since the last Clear.
  std::uint64_t Taken() const { return m_taken; }
  // Forgets everything, for an input that starts again.
  void Clear();

 private:
  const std::size_t m_maximumLine;
  std::string m_buffer;
  std::size_t m_start = 0;
  // Within the rest of a line cut at the maximum.
  bool m_skipping = false;
  std::uint64_t m_taken = 0;
};

}  // namespace reference_host
