#include "component/sendara/base/detail/common/trace_line.h"

#include <exception>
#include <string>

#include "component/oru/exception.h"

namespace sendara::base {
namespace {

bool Accepts(oru::ITracer* tracer, std::int32_t level) noexcept {
  if (!tracer) return false;
  try {
    return tracer->IsLevelEnabled(level);
  } catch (...) {
    return false;
  }
}

std::string CurrentExceptionText() {
  try {
    throw;
  } catch (const oru::Exception& e) {
    return e.ToString();
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "unknown exception";
  }
}

}  // namespace

TraceLine::TraceLine(oru::ITracer* tracer, std::int32_t level, std::string_view function) noexcept
    : m_tracer(tracer), m_level(level), m_function(function) {
  if (!Accepts(tracer, level)) return;
  try {
    m_stream.emplace();
    *m_stream << '[' << m_function << "] ";
  } catch (...) {
    m_stream.reset();
  }
}

void TraceLine::Failed() noexcept {
  try {
    const std::string text = CurrentExceptionText();
    m_stream.emplace();
    *m_stream << '[' << m_function << "] exception on trace: " << text;
  } catch (...) {
    m_stream.reset();
  }
}

TraceLine::~TraceLine() {
  if (!m_stream) return;
  try {
    const std::string line = std::move(*m_stream).str();
    m_tracer->Trace(m_level, line.data(), line.size());
  } catch (...) {
    // A trace line must never become a failure of the traced operation.
  }
}

}  // namespace sendara::base
