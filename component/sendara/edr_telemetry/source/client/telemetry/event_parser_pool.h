#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
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
//
// A host hands over the event it was told to keep right after the decision,
// on the same thread, and the hand-over needs the same UTF-8 text. So a kept
// decision leaves its slot parked in the pool with the event's text, and the
// hand-over takes that text when it is given the very text decided on, unit
// for unit: a host may reuse its buffer for the next event. The UTF-8 text
// depends on the UTF-16 text alone, so whatever changed in between (rules,
// field settings) cannot make it wrong.
//
// Lifetime: a parked slot is an ordinary free slot of the pool, owned and
// freed by it. The calling thread keeps only the ticket of its parked slot in
// a thread-local integer, which has no destructor (one would pin the module
// while host threads live) and holds no pointer: the hand-over looks the
// ticket up among this pool's free slots under the mutex, so a slot that was
// taken by another thread, dropped for its size, or that belongs to another
// pool or to a pool already gone is simply not found. Tickets are never
// reused in the process. A parked slot that no hand-over takes (a thread that
// ended, a host that did not hand the event over) is taken by the next parse
// that finds no other free slot: the pool grows no more than before.
class EventParserPool {
 public:
  // A slot whose memory grew beyond this is released after the event that
  // needed it; a text of more than this many UTF-16 bytes is not parked.
  static constexpr std::size_t kKeptBytes = std::size_t{1} << 20;

  class Parsed;
  class Decided;

  EventParserPool();
  ~EventParserPool();
  EventParserPool(const EventParserPool&) = delete;
  EventParserPool& operator=(const EventParserPool&) = delete;

  // Raises invalid_json_exception for a text that is not JSON. The fields
  // are valid while the returned object lives.
  Parsed Parse(std::u16string_view event);
  // The UTF-8 text of `event` as the calling thread's last kept decision in
  // this pool made it, when that decision was on the same text and its slot
  // is still parked; a Decided without text otherwise. Takes the parked text
  // once.
  Decided TakeDecided(std::u16string_view event) EXCLUDES(m_mutex);
  // How many hand-overs took a decision's text.
  std::uint64_t TextsReused() const EXCLUDES(m_mutex);

 private:
  struct Slot;

  std::unique_ptr<Slot> Take() EXCLUDES(m_mutex);
  // `reused`: the slot's text went to a hand-over.
  void Return(std::unique_ptr<Slot> slot, bool reused = false) noexcept EXCLUDES(m_mutex);

  mutable platform::Mutex m_mutex;
  // Returned last at the back.
  std::vector<std::unique_ptr<Slot>> m_free GUARDED_BY(m_mutex);
  std::uint64_t m_reused GUARDED_BY(m_mutex) = 0;
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
  // The event is kept: when this object goes, its slot stays parked with the
  // text for the hand-over on this thread (see the pool). Copies the UTF-16
  // text, which must still be the one parsed. Nothing is parked for an event
  // whose UTF-8 text is not its plain conversion, or too large to keep.
  void KeepForHandOver() noexcept;

 private:
  friend class EventParserPool;
  Parsed(EventParserPool& pool, std::unique_ptr<Slot> slot, std::u16string_view event) noexcept;

  EventParserPool* m_pool;
  std::unique_ptr<Slot> m_slot;
  const filtration::EventFields* m_fields;
  std::u16string_view m_event;
};

// The parked text a hand-over took, or none; gives its slot back to the pool
// when it goes.
class EventParserPool::Decided {
 public:
  Decided(Decided&& other) noexcept;
  Decided& operator=(Decided&&) = delete;
  ~Decided();

  // The event as base::ToUtf8 makes it, valid while this object lives.
  std::optional<std::string_view> Utf8() const noexcept;

 private:
  friend class EventParserPool;
  Decided(EventParserPool& pool, std::unique_ptr<Slot> slot) noexcept;

  EventParserPool* m_pool;
  std::unique_ptr<Slot> m_slot;
};

}  // namespace sendara::edr_telemetry::telemetry
