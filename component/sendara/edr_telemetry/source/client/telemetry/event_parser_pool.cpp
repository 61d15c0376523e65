#include "component/sendara/edr_telemetry/source/client/telemetry/event_parser_pool.h"

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

}  // namespace

struct EventParserPool::Slot {
  Slot() : memory(firstBlock.get(), kFirstBlockBytes), parser({}, Options()) {}

  // The event as UTF-8, followed by the padding simdjson reads past its end.
  std::string utf8;

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
    // Escapes of lone surrogates read as U+FFFD, as everywhere else.
    if (std::optional<std::string> repaired = base::ReplaceLoneSurrogateEscapes(slot->utf8)) {
      slot->utf8 = std::move(*repaired);
    }
    const std::size_t size = slot->utf8.size();
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
      return Parsed(*this, std::move(slot));
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
  return Parsed(*this, std::move(slot));
}

std::unique_ptr<EventParserPool::Slot> EventParserPool::Take() {
  {
    platform::MutexLock lock(&m_mutex);
    if (!m_free.empty()) {
      std::unique_ptr<Slot> slot = std::move(m_free.back());
      m_free.pop_back();
      return slot;
    }
  }
  return std::make_unique<Slot>();
}

void EventParserPool::Return(std::unique_ptr<Slot> slot) noexcept {
  slot->fastFields.reset();
  slot->fields.reset();
  // The document lives in the slot's memory: it goes first.
  slot->document.reset();
  // Neither parser gives back the working memory a large event made it
  // grow: a slot that met one is not kept.
  if (slot->utf8.capacity() > kKeptBytes || slot->fastParser.capacity() > kKeptBytes) return;
  slot->parser.reset();
  slot->memory.release();
  try {
    platform::MutexLock lock(&m_mutex);
    m_free.push_back(std::move(slot));
  } catch (...) {
    // Without room in the pool the slot is simply freed.
  }
}

EventParserPool::Parsed::Parsed(EventParserPool& pool, std::unique_ptr<Slot> slot) noexcept
    : m_pool(&pool),
      m_slot(std::move(slot)),
      m_fields(m_slot->fastFields ? static_cast<const filtration::EventFields*>(&*m_slot->fastFields)
                                  : &*m_slot->fields) {}

EventParserPool::Parsed::Parsed(Parsed&& other) noexcept = default;

bool EventParserPool::Parsed::Fast() const noexcept { return m_slot->fastFields.has_value(); }

EventParserPool::Parsed::~Parsed() {
  if (m_slot) m_pool->Return(std::move(m_slot));
}

}  // namespace sendara::edr_telemetry::telemetry
