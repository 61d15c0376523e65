// Feeds the input to the host program's event reader as its input file (a
// memory file, read through InputLines as the program reads a file or a
// pipe) and parses each line as the program does. Nothing may crash, trip a
// sanitizer or hang; the lines put together again are the input, and a line
// that does not parse says why.
//
// The program reads a line with simdjson and with Boost.JSON where simdjson
// refuses it; Boost.JSON's reading alone is the reference. Both must take the
// same lines, read the same members, and hand over the same event, compact.
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "component/sendara/base/detail/common/utf_convert.h"
#include "fuzz/number_literal.h"
#include "host/program/host_event.h"
#include "host/program/input_lines.h"

namespace {

using reference_host::HostEvent;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// A file in memory holding `bytes`, read from its start.
int MemoryFile(std::string_view bytes) {
  const int fd = ::memfd_create("host_event_fuzzer", MFD_CLOEXEC);
  Check(fd >= 0);
  for (std::size_t written = 0; written < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
    Check(n > 0);
    written += static_cast<std::size_t>(n);
  }
  Check(::lseek(fd, 0, SEEK_SET) == 0);
  return fd;
}

// Whether `text` holds no whitespace outside its strings.
bool Compact(std::u16string_view text) {
  bool inString = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (inString) {
      if (c == u'\\') {
        ++i;
      } else if (c == u'"') {
        inString = false;
      }
    } else if (c == u'"') {
      inString = true;
    } else if (c == u' ' || c == u'\t' || c == u'\n' || c == u'\r') {
      return false;
    }
  }
  return true;
}

// Boost.JSON 1.81's two readings of each double literal of `text`: one with
// 33 bytes or more after it, one with none, which may differ (see
// NumberLiteral::following). The event goes as written, but a literal has
// fewer bytes after it in the event than in the line.
std::set<std::pair<double, double>> BoostJsonReadings(std::string_view text) {
  std::set<std::pair<double, double>> readings;
  for (const NumberLiteral& literal : NumberLiteral::All(text)) {
    boost::system::error_code nearEndError;
    boost::system::error_code farError;
    const boost::json::value nearEnd = boost::json::parse(literal.text, nearEndError);
    const boost::json::value far = boost::json::parse(std::string(literal.text) + std::string(40, ' '), farError);
    if (nearEndError || farError || !nearEnd.is_double() || !far.is_double()) continue;
    readings.emplace(nearEnd.get_double(), far.get_double());
    readings.emplace(far.get_double(), nearEnd.get_double());
  }
  return readings;
}

// Equal, but that two doubles may be the two readings of one literal; two
// NaNs (Boost.JSON's reading of 0e400) are alike.
bool Alike(const boost::json::value& a, const boost::json::value& b,
           const std::set<std::pair<double, double>>& readings) {
  if (a.is_double() && b.is_double()) {
    const double x = a.get_double();
    const double y = b.get_double();
    if (std::isnan(x) || std::isnan(y)) return std::isnan(x) && std::isnan(y);
    return x == y || readings.contains({x, y});
  }
  if (a.is_object() && b.is_object()) {
    if (a.get_object().size() != b.get_object().size()) return false;
    for (const auto& [name, value] : a.get_object()) {
      const boost::json::value* other = b.get_object().if_contains(name);
      if (!other || !Alike(value, *other, readings)) return false;
    }
    return true;
  }
  if (a.is_array() && b.is_array()) {
    if (a.get_array().size() != b.get_array().size()) return false;
    for (std::size_t i = 0; i < a.get_array().size(); ++i) {
      if (!Alike(a.get_array()[i], b.get_array()[i], readings)) return false;
    }
    return true;
  }
  return a == b;
}

// `text` as Boost.JSON reads it, which it must: it nests less deeply than
// the line that Boost.JSON read.
boost::json::value Read(std::string_view text) {
  boost::system::error_code error;
  boost::json::value value = boost::json::parse(text, error);
  Check(!error);
  return value;
}

// The program's reading of `line` against the reference reading.
void CheckBothReadings(std::string_view line) {
  std::string error;
  const std::optional<HostEvent> event = HostEvent::Parse(line, error);
  Check(event.has_value() || !error.empty());
  std::string referenceError;
  const std::optional<HostEvent> reference = HostEvent::ParseWithBoostJson(line, referenceError);
  Check(event.has_value() == reference.has_value());
  if (!event) {
    Check(error == referenceError);
    return;
  }
  Check(event->eventType == reference->eventType);
  Check(event->throttlingId == reference->throttlingId);
  Check(event->ioas.size() == reference->ioas.size());
  for (std::size_t i = 0; i < event->ioas.size(); ++i) {
    Check(event->ioas[i].guid == reference->ioas[i].guid);
    Check(event->ioas[i].version == reference->ioas[i].version);
    Check(event->ioas[i].isMarkable == reference->ioas[i].isMarkable);
    Check(event->ioas[i].isAlertable == reference->ioas[i].isAlertable);
    Check(event->ioas[i].isQdxStatExpected == reference->ioas[i].isQdxStatExpected);
  }
  // Against the event the reference reading read, not the text it wrote:
  // Boost.JSON writes a number beyond a double's range as Infinity, which is
  // not JSON.
  Check(Compact(event->text));
  const std::string text = sendara::base::ToUtf8(event->text);
  Check(Alike(Read(text), Read(line).get_object().at("event"), BoostJsonReadings(text)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const int fd = MemoryFile(input);
  const std::atomic<bool> stopRequested{false};
  reference_host::InputLines lines(fd, stopRequested);

  std::string joined;
  std::string line;
  while (lines.Next(line)) {
    joined += line;
    joined += '\n';
    CheckBothReadings(line);
  }
  ::close(fd);
  Check(joined == input || (!input.ends_with('\n') && joined == std::string(input) + '\n'));
  return 0;
}
