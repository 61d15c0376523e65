#include "host/sink/line_splitter.h"

namespace siem_sink {

std::uint64_t LineSplitter::Feed(std::string_view bytes, std::string& batch) {
  std::uint64_t events = 0;
  while (!m_overflowed && !bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) {
      if (m_partial.size() + bytes.size() > m_maxLineBytes) {
        m_overflowed = true;
        m_partial.clear();
      } else {
        m_partial.append(bytes);
      }
      break;
    }
    std::string_view line = bytes.substr(0, end);
    bytes.remove_prefix(end + 1);
    if (m_partial.size() + line.size() > m_maxLineBytes) {
      m_overflowed = true;
      m_partial.clear();
      break;
    }
    if (!m_partial.empty()) {
      // Only a line that spans reads is copied; the others go straight from
      // the read buffer to the batch.
      m_partial.append(line);
      const std::string whole = std::move(m_partial);
      m_partial.clear();
      events += Append(whole, batch);
      continue;
    }
    events += Append(line, batch);
  }
  return events;
}

std::uint64_t LineSplitter::Finish(std::string& batch) {
  if (m_overflowed || m_partial.empty()) return 0;
  const std::string last = std::move(m_partial);
  m_partial.clear();
  // No line feed ended it, so a carriage return at its end is data.
  batch.append(last);
  batch += '\n';
  return 1;
}

std::uint64_t LineSplitter::Append(std::string_view line, std::string& batch) {
  if (line.ends_with('\r')) line.remove_suffix(1);
  if (line.empty()) return 0;
  batch.append(line);
  batch += '\n';
  return 1;
}

}  // namespace siem_sink
