#include "host/program/line_splitter.h"

namespace reference_host {

bool LineSplitter::Next(std::string& line) {
  for (;;) {
    const std::size_t end = m_buffer.find('\n', m_start);
    if (m_skipping) {
      const std::size_t skipped = end != std::string::npos ? end + 1 : m_buffer.size();
      m_taken += skipped - m_start;
      m_start = skipped;
      if (end == std::string::npos) break;
      m_skipping = false;
    } else if (end != std::string::npos && end - m_start <= m_maximumLine) {
      line.assign(m_buffer, m_start, end - m_start);
      m_taken += end + 1 - m_start;
      m_start = end + 1;
      return true;
    } else if (m_buffer.size() - m_start > m_maximumLine) {
      line.assign(m_buffer, m_start, m_maximumLine);
      m_taken += m_maximumLine;
      m_start += m_maximumLine;
      m_skipping = true;
      return true;
    } else {
      break;
    }
  }
  // Keep only the unfinished line before more is appended.
  m_buffer.erase(0, m_start);
  m_start = 0;
  return false;
}

bool LineSplitter::Rest(std::string& line) {
  if (m_skipping || m_start >= m_buffer.size()) return false;
  line.assign(m_buffer, m_start, std::string::npos);
  m_taken += m_buffer.size() - m_start;
  m_start = m_buffer.size();
  return true;
}

void LineSplitter::Clear() {
  m_buffer.clear();
  m_start = 0;
  m_skipping = false;
  m_taken = 0;
}

}  // namespace reference_host
