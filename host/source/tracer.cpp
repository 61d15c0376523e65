#include "host/tracer.h"

#include <algorithm>

#include "component/platform/mutex_lock.h"

namespace reference_host {

Tracer::Tracer(std::int32_t maximumLevel, std::ostream* echo, bool record)
    : m_maximumLevel(maximumLevel), m_echo(echo), m_record(record) {}

bool Tracer::IsLevelEnabled(std::int32_t level) { return level <= m_maximumLevel.load(std::memory_order_relaxed); }

void Tracer::Trace(std::int32_t level, const char* text, std::size_t size) {
  if (!IsLevelEnabled(level)) return;
  {
    platform::MutexLock lock(&m_mutex);
    if (m_echo) *m_echo << level << ' ' << std::string_view(text, size) << '\n';
    if (!m_record) return;
    m_lines.push_back({level, std::string(text, size)});
  }
  m_lineAdded.NotifyAll();
}

void Tracer::SetMaximumLevel(std::int32_t maximumLevel) {
  m_maximumLevel.store(maximumLevel, std::memory_order_relaxed);
}

std::vector<Tracer::Line> Tracer::Lines() const {
  platform::MutexLock lock(&m_mutex);
  return m_lines;
}

std::vector<Tracer::Line> Tracer::LinesContaining(std::string_view text) const {
  platform::MutexLock lock(&m_mutex);
  std::vector<Line> found;
  for (const Line& line : m_lines) {
    if (line.text.find(text) != std::string::npos) found.push_back(line);
  }
  return found;
}

std::size_t Tracer::Count(std::string_view text) const { return LinesContaining(text).size(); }

bool Tracer::HasLineContainingLocked(std::string_view text) const {
  return std::any_of(m_lines.begin(), m_lines.end(),
                     [&](const Line& line) { return line.text.find(text) != std::string::npos; });
}

bool Tracer::WaitFor(std::string_view text, std::chrono::milliseconds timeout) const {
  platform::MutexLock lock(&m_mutex);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!HasLineContainingLocked(text)) {
    // A line that came with the time-out still counts.
    if (!m_lineAdded.WaitUntil(&m_mutex, deadline)) return HasLineContainingLocked(text);
  }
  return true;
}

void Tracer::Clear() {
  platform::MutexLock lock(&m_mutex);
  m_lines.clear();
}

}  // namespace reference_host
