#include "component/sendara/edr_telemetry/source/client/telemetry/event_parser_pool.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>
#include <string>
#include <utility>

#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parser.hpp>
#include <boost/json/value.hpp>
#include <simdjson.h>

#include "component/oru/result_code.h"
#include "component/platform/mutex_lock.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/base/detail/serializers/from_string.h"
#include "component/sendara/base/detail/serializers/lone_surrogate_escapes.h"
#include "component/sendara/base/detail/serializers/overlong_exponents.h"
#include "component/sendara/edr_telemetry/source/client/filtration/boost_json_event_fields.h"
#include "component/sendara/edr_telemetry/source/client/filtration/simdjson_event_fields.h"

namespace sendara::edr_telemetry::telemetry {
namespace {

// As deep as the sending loop reads stored events.
boost::json::parse_options Options() {
  boost::json::parse_options options;
  options.max_depth = base::kMaximumDepth;
  return options;
}

// One level short of Boost.JSON's limit: an event at the limit goes to
// Boost.JSON, which decides it as everywhere else.
constexpr std::size_t kFastMaximumDepth = base::kMaximumDepth - 1;

// Typical events fit their document into the first block.
constexpr std::size_t kFirstBlockBytes = 64 * 1024;

// The ticket of the slot the calling thread's last kept decision parked, 0
// for none. Plain data, no pointer: see the class comment.
thread_local std::uint64_t t_parked = 0;

std::uint64_t NextTicket() noexcept {
  static std::atomic<std::uint64_t> last{0};
  return last.fetch_add(1, std::memory_order_relaxed) + 1;
}

}  // namespace

struct EventParserPool::Slot {
  Slot() : memory(firstBlock.get(), kFirstBlockBytes), parser({}, Options()) {}

  // The event as UTF-8, followed by the padding simdjson reads past its end.
  std::string utf8;
  // The size of the event's text in `utf8`.
  std::size_t utf8Size = 0;
  // Whether that text is the plain conversion of the event: escapes of lone
  // surrogates may have been repaired.
  bool plain = false;

  // While the slot is parked for a hand-over: its ticket (0 otherwise) and
  // the UTF-16 text decided on.
  std::uint64_t ticket = 0;
  std::u16string decided;
  // Set by KeepForHandOver: park when the slot comes back.
  bool keep = false;

  simdjson::dom::parser fastParser{simdjson::SIMDJSON_MAXSIZE_BYTES};
  std::optional<filtration::SimdjsonEventFields> fastFields;

  std::unique_ptr<unsigned char[]> firstBlock{new unsigned char[kFirstBlockBytes]};
  // Where Boost.JSON's document lives: the first block, then blocks of its
  // own that are freed after each event.
  boost::json::monotonic_resource memory;
  boost::json::parser parser;
  // Moved into place, never assigned: an assignment would copy it to the heap.
  std::optional<boost::json::value> document;
  std::optional<filtration::BoostJsonEventFields> fields;
};

EventParserPool::EventParserPool() = default;
EventParserPool::~EventParserPool() = default;

EventParserPool::Parsed EventParserPool::Parse(std::u16string_view event) {
  std::unique_ptr<Slot> slot = Take();
  try {
    base::ToUtf8(event, slot->utf8);
    slot->plain = true;
    // Escapes of lone surrogates read as U+FFFD, as everywhere else.
    if (std::optional<std::string> repaired = base::ReplaceLoneSurrogateEscapes(slot->utf8)) {
      slot->utf8 = std::move(*repaired);
      slot->plain = false;
    }
    const std::size_t size = slot->utf8.size();
    slot->utf8Size = size;
    slot->utf8.append(simdjson::SIMDJSON_PADDING, '\0');
    if (slot->fastParser.max_depth() != kFastMaximumDepth) {
      const simdjson::error_code allocated = slot->fastParser.allocate(size, kFastMaximumDepth);
      if (allocated) throw std::bad_alloc();
    }
    simdjson::dom::element root;
    // A number that Boost.JSON refuses goes to Boost.JSON too, which refuses
    // the event as the field stripper would later.
    if (!slot->fastParser.parse(slot->utf8.data(), size, false).get(root) &&
        !base::MayHoldOverlongExponent(std::string_view(slot->utf8.data(), size), root)) {
      slot->fastFields.emplace(root);
      return Parsed(*this, std::move(slot), event);
    }
    slot->utf8.resize(size);

    slot->parser.reset(boost::json::storage_ptr(&slot->memory));
    boost::system::error_code error;
    slot->parser.write(slot->utf8.data(), slot->utf8.size(), error);
    if (error) {
      base::invalid_json_exception exception("string conversion to json error", __FILE__, __LINE__);
      exception.SetProperty("description_error", error.message());
      base::ThrowNested(std::move(exception));
    }
    slot->document.emplace(slot->parser.release());
    slot->fields.emplace(*slot->document);
  } catch (...) {
    Return(std::move(slot));
    throw;
  }
  return Parsed(*this, std::move(slot), event);
}

EventParserPool::Decided EventParserPool::TakeDecided(std::u16string_view event) {
  const std::uint64_t ticket = std::exchange(t_parked, 0);
  std::unique_ptr<Slot> slot;
  if (ticket != 0) {
    platform::MutexLock lock(&m_mutex);
    const auto parked =
        std::find_if(m_free.begin(), m_free.end(), [ticket](const auto& free) { return free->ticket == ticket; });
    if (parked != m_free.end()) {
      slot = std::move(*parked);
      m_free.erase(parked);
    }
  }
  if (!slot) return Decided(*this, nullptr);
  slot->ticket = 0;
  // The same units, not only the same address: a host may have put the next
  // event into the buffer it decided on.
  const std::u16string_view decided = slot->decided;
  if (decided.size() != event.size() ||
      (!event.empty() && std::memcmp(decided.data(), event.data(), event.size() * sizeof(char16_t)) != 0)) {
    Return(std::move(slot));
    return Decided(*this, nullptr);
  }
  return Decided(*this, std::move(slot));
}

std::uint64_t EventParserPool::TextsReused() const {
  platform::MutexLock lock(&m_mutex);
  return m_reused;
}

std::unique_ptr<EventParserPool::Slot> EventParserPool::Take() {
  const std::uint64_t own = t_parked;
  {
    platform::MutexLock lock(&m_mutex);
    if (!m_free.empty()) {
      // The latest slot not parked for another thread's hand-over: this
      // thread's own (its kept event was not handed over) or one not parked.
      // Failing that, the slot parked longest ago, whose hand-over may never
      // come.
      auto pick = m_free.begin();
      for (auto free = m_free.end(); free != m_free.begin();) {
        --free;
        if ((*free)->ticket == 0 || (*free)->ticket == own) {
          pick = free;
          break;
        }
      }
      std::unique_ptr<Slot> slot = std::move(*pick);
      m_free.erase(pick);
      slot->ticket = 0;
      return slot;
    }
  }
  return std::make_unique<Slot>();
}

void EventParserPool::Return(std::unique_ptr<Slot> slot, bool reused) noexcept {
  slot->fastFields.reset();
  slot->fields.reset();
  // The document lives in the slot's memory: it goes first.
  slot->document.reset();
  const bool park = std::exchange(slot->keep, false);
  // Neither parser gives back the working memory a large event made it
  // grow: a slot that met one is not kept.
  if (slot->utf8.capacity() > kKeptBytes || slot->fastParser.capacity() > kKeptBytes ||
      slot->decided.capacity() * sizeof(char16_t) > kKeptBytes) {
    return;
  }
  slot->parser.reset();
  slot->memory.release();
  const std::uint64_t ticket = park ? NextTicket() : 0;
  slot->ticket = ticket;
  try {
    platform::MutexLock lock(&m_mutex);
    m_free.push_back(std::move(slot));
    if (reused) ++m_reused;
  } catch (...) {
    // Without room in the pool the slot is simply freed.
    return;
  }
  if (ticket != 0) t_parked = ticket;
}

EventParserPool::Parsed::Parsed(EventParserPool& pool, std::unique_ptr<Slot> slot,
                                std::u16string_view event) noexcept
    : m_pool(&pool),
      m_slot(std::move(slot)),
      m_fields(m_slot->fastFields ? static_cast<const filtration::EventFields*>(&*m_slot->fastFields)
                                  : &*m_slot->fields),
      m_event(event) {}

EventParserPool::Parsed::Parsed(Parsed&& other) noexcept = default;

bool EventParserPool::Parsed::Fast() const noexcept { return m_slot->fastFields.has_value(); }

void EventParserPool::Parsed::KeepForHandOver() noexcept {
  Slot& slot = *m_slot;
  if (!slot.plain || m_event.size() * sizeof(char16_t) > kKeptBytes) return;
  try {
    slot.decided.assign(m_event);
    slot.keep = true;
  } catch (...) {
    // Without the copy the hand-over converts the event itself.
  }
}

EventParserPool::Parsed::~Parsed() {
  if (m_slot) m_pool->Return(std::move(m_slot));
}

EventParserPool::Decided::Decided(EventParserPool& pool, std::unique_ptr<Slot> slot) noexcept
    : m_pool(&pool), m_slot(std::move(slot)) {}

EventParserPool::Decided::Decided(Decided&& other) noexcept = default;

EventParserPool::Decided::~Decided() {
  if (m_slot) m_pool->Return(std::move(m_slot), true);
}

std::optional<std::string_view> EventParserPool::Decided::Utf8() const noexcept {
  if (!m_slot) return std::nullopt;
  return std::string_view(m_slot->utf8.data(), m_slot->utf8Size);
}

}  // namespace sendara::edr_telemetry::telemetry
