#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "host/program/host_event.h"
#include "host/program/input_lines.h"

namespace reference_host {

// Reads the event input and parses its lines on a thread of its own, ahead
// of the thread that hands the events to the component, which takes them in
// the input's order. Reading and parsing a line costs about as much as the
// component's decision and queueing of its event: on two cores the halves
// run side by side. Blank lines are left out (they count as no line read).
class ReadAheadParser {
 public:
  // A line that is not blank: its event, or why it is none.
  struct Line {
    std::optional<HostEvent> event;
    std::string error;
  };

  // Does not own `fd`. Reading ends at the end of the input, on a read
  // error, or once `stopRequested` is set.
  ReadAheadParser(int fd, const std::atomic<bool>& stopRequested);
  ReadAheadParser(const ReadAheadParser&) = delete;
  ReadAheadParser& operator=(const ReadAheadParser&) = delete;
  // Stops reading, and waits for the reading thread.
  ~ReadAheadParser();

  // Replaces `lines` with the next lines of the input, in order; false when
  // every line read has been taken and reading has ended, or once a stop is
  // requested (lines read but not taken are then left).
  bool Next(std::vector<Line>& lines);

 private:
  // Batches the reading thread may be ahead by: a few hundred events.
  static constexpr std::size_t kBatchesAhead = 8;
  static constexpr std::size_t kLinesPerBatch = 64;

  void Read() noexcept;
  // Hands the batch over, waiting while the taker is far enough behind.
  void Publish(std::vector<Line>& batch);

  const std::atomic<bool>& m_stopRequested;
  // Set by a stop request seen by the taker, or by the destructor: what the
  // reading thread's input looks at.
  std::atomic<bool> m_quit{false};
  InputLines m_input;
  std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::vector<Line>> m_batches;
  // Emptied batches, kept for their room.
  std::vector<std::vector<Line>> m_spare;
  bool m_ended = false;
  // Who waits on m_changed: the other side wakes it only then.
  bool m_takerWaits = false;
  bool m_readerWaits = false;
  // Last: it starts once the rest is built.
  std::thread m_thread;
};

}  // namespace reference_host
