#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "component/platform/mutex.h"
#include "component/platform/thread_annotations.h"
#include "component/sendara/edr_telemetry/source/client/filtration/event_fields.h"

namespace sendara::edr_telemetry::telemetry {

// Parses events for the drop decision, each with parsers and memory that
// the calling thread takes from a pool and gives back when done: one event
// costs no allocation once the pool is warm. Held by the client rather than
// per thread, so that host threads keep nothing of the module alive, and
// trimmed after each use, so that one large event does not pin its memory.
//
// An event is read by simdjson's DOM parser, several times faster than
// Boost.JSON on events, and by Boost.JSON when simdjson refuses it: a number
// beyond 64 bits or beyond a double's range, which Boost.JSON reads as a
// double, or a text that is not JSON, which Boost.JSON then reports as
// everywhere else. So is an event that may hold a number with an exponent of
// ten digits, which simdjson reads and Boost.JSON, as everywhere else,
// refuses. Filter expressions give the same answer on either.
class EventParserPool {
 public:
  // A slot whose memory grew beyond this is released after the event that
  // needed it.
  static constexpr std::size_t kKeptBytes = std::size_t{1} << 20;

  class Parsed;

  EventParserPool();
  ~EventParserPool();
  EventParserPool(const EventParserPool&) = delete;
  EventParserPool& operator=(const EventParserPool&) = delete;

  // Raises invalid_json_exception for a text that is not JSON. The fields
  // are valid while the returned object lives.
  Parsed Parse(std::u16string_view event);

 private:
  struct Slot;

  std::unique_ptr<Slot> Take() EXCLUDES(m_mutex);
  void Return(std::unique_ptr<Slot> slot) noexcept EXCLUDES(m_mutex);

  platform::Mutex m_mutex;
  std::vector<std::unique_ptr<Slot>> m_free GUARDED_BY(m_mutex);
};

// One parsed event; gives its slot back to the pool when it goes.
class EventParserPool::Parsed {
 public:
  Parsed(Parsed&& other) noexcept;
  Parsed& operator=(Parsed&&) = delete;
  ~Parsed();

  const filtration::EventFields& Fields() const noexcept { return *m_fields; }
  // Whether simdjson read the event (Boost.JSON did otherwise).
  bool Fast() const noexcept;

 private:
  friend class EventParserPool;
  Parsed(EventParserPool& pool, std::unique_ptr<Slot> slot) noexcept;

  EventParserPool* m_pool;
  std::unique_ptr<Slot> m_slot;
  const filtration::EventFields* m_fields;
};

}  // namespace sendara::edr_telemetry::telemetry
