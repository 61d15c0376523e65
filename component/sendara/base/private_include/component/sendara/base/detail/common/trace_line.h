#pragma once

#include <cstdint>
#include <optional>
#include <sstream>
#include <string_view>

#include "component/oru/i_tracer.h"
#include "component/oru/ref_ptr.h"
#include "component/sendara/base/detail/common/function_name.h"
#include "component/sendara/base/detail/common/trace_level.h"

namespace sendara::base {

// One trace line: "[" + function + "] " + what is streamed into it, handed to
// the tracer when the object goes. Nothing is formatted when the tracer does
// not accept the level. Use it through SENDARA_TRACE.
class TraceLine {
 public:
  TraceLine(oru::ITracer* tracer, std::int32_t level, std::string_view function) noexcept;
  TraceLine(const TraceLine&) = delete;
  TraceLine& operator=(const TraceLine&) = delete;
  ~TraceLine();

  bool Enabled() const noexcept { return m_stream.has_value(); }
  std::ostream& Stream() noexcept { return *m_stream; }
  // Replaces the text with "exception on trace: " + the text of the exception
  // being handled.
  void Failed() noexcept;

 private:
  oru::ITracer* m_tracer;
  std::int32_t m_level;
  std::string_view m_function;
  std::optional<std::ostringstream> m_stream;
};

namespace detail {
inline oru::ITracer* TracerOf(oru::ITracer* tracer) noexcept { return tracer; }
template <class T>
oru::ITracer* TracerOf(const oru::RefPtr<T>& tracer) noexcept {
  return tracer.Get();
}
}  // namespace detail

}  // namespace sendara::base

// SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "size = " << size);
// The streamed expression is evaluated only when the level is traced; an
// exception it raises is written as "exception on trace: " + its text.
#define SENDARA_TRACE(tracer, level, ...)                                                     \
  do {                                                                                        \
    ::sendara::base::TraceLine sendaraTraceLine_(::sendara::base::detail::TracerOf(tracer),   \
                                                 (level), SENDARA_FUNCTION_NAME);             \
    if (sendaraTraceLine_.Enabled()) {                                                        \
      try {                                                                                   \
        sendaraTraceLine_.Stream() << __VA_ARGS__;                                            \
      } catch (...) {                                                                         \
        sendaraTraceLine_.Failed();                                                           \
      }                                                                                       \
    }                                                                                         \
  } while (0)
