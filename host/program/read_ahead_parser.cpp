#include "host/program/read_ahead_parser.h"

#include <chrono>
#include <utility>

namespace reference_host {
namespace {

// How often a taker waiting for lines looks at the stop request, which a
// signal handler sets without waking it.
constexpr std::chrono::milliseconds kStopPoll(100);

}  // namespace

ReadAheadParser::ReadAheadParser(int fd, const std::atomic<bool>& stopRequested)
    : m_stopRequested(stopRequested), m_input(fd, m_quit), m_thread([this] { Read(); }) {}

ReadAheadParser::~ReadAheadParser() {
  {
    std::lock_guard lock(m_mutex);
    m_quit = true;
  }
  m_changed.notify_all();
  m_thread.join();
}

bool ReadAheadParser::Next(std::vector<Line>& lines) {
  lines.clear();  // the events of the batch taken before go outside the lock
  std::unique_lock lock(m_mutex);
  for (;;) {
    if (m_stopRequested) {
      m_quit = true;
      lock.unlock();
      m_changed.notify_all();
      return false;
    }
    if (!m_batches.empty()) {
      // The batch taken before goes back, emptied, for its room.
      if (lines.capacity()) m_spare.push_back(std::move(lines));
      lines = std::move(m_batches.front());
      m_batches.pop_front();
      const bool wake = m_readerWaits;
      lock.unlock();
      if (wake) m_changed.notify_all();
      return true;
    }
    if (m_ended) return false;
    m_takerWaits = true;
    m_changed.wait_for(lock, kStopPoll);
    m_takerWaits = false;
  }
}

void ReadAheadParser::Read() noexcept {
  std::vector<Line> batch;
  try {
    // A batch goes as soon as the input has to be read again, so that
    // events that trickle in are not held back for the rest of a batch.
    const auto publish = [&] { Publish(batch); };
    for (std::string text; m_input.Next(text, publish);) {
      if (text.find_first_not_of(" \t\r") == std::string::npos) continue;
      Line& line = batch.emplace_back();
      line.event = HostEvent::Parse(text, line.error);
      if (batch.size() >= kLinesPerBatch) Publish(batch);
    }
    Publish(batch);
  } catch (...) {
    // Out of memory: reading ends here, as a read error would end it.
  }
  {
    std::lock_guard lock(m_mutex);
    m_ended = true;
  }
  m_changed.notify_all();
}

void ReadAheadParser::Publish(std::vector<Line>& batch) {
  if (batch.empty()) return;
  std::unique_lock lock(m_mutex);
  m_readerWaits = true;
  m_changed.wait(lock, [&] { return m_batches.size() < kBatchesAhead || m_quit; });
  m_readerWaits = false;
  if (m_quit) {
    batch.clear();
    return;
  }
  m_batches.push_back(std::move(batch));
  batch.clear();
  if (!m_spare.empty()) {
    batch = std::move(m_spare.back());
    m_spare.pop_back();
  }
  const bool wake = m_takerWaits;
  lock.unlock();
  if (wake) m_changed.notify_all();
}

}  // namespace reference_host
