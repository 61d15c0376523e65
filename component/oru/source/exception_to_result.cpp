#include "component/oru/exception_to_result.h"

#include <exception>
#include <new>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "component/oru/exception.h"

namespace oru {
namespace {

struct Level {
  Result code = rc::UnknownException;
  std::string text;
  std::exception_ptr nested;
};

std::exception_ptr NestedOf(const std::exception& e) noexcept {
  const auto* nested = dynamic_cast<const std::nested_exception*>(&e);
  return nested ? nested->nested_ptr() : nullptr;
}

Result CodeOrSuccessMarker(Result code) noexcept {
  return code < 0 ? code : rc::ExceptionWithSuccessfulResultCode;
}

// Examines one level of a chain. The text is built only when it is traced:
// a bad_alloc level must not allocate again just to be converted.
Level Examine(const std::exception_ptr& level, bool withText) noexcept {
  Level out;
  try {
    std::rethrow_exception(level);
  } catch (const Exception& e) {
    const auto code = e.Code();
    out.code = code ? CodeOrSuccessMarker(*code) : rc::ExceptionHasNoResultCode;
    out.nested = NestedOf(e);
    if (withText) {
      try {
        out.text = e.ToString();
      } catch (...) {
        try {
          out.text = e.what();
        } catch (...) {
        }
      }
    }
  } catch (const std::exception& e) {
    if (dynamic_cast<const std::bad_alloc*>(&e)) {
      out.code = rc::OutOfMemory;
    } else if (dynamic_cast<const std::bad_cast*>(&e)) {
      out.code = rc::BadCast;
    } else if (dynamic_cast<const std::length_error*>(&e)) {
      out.code = rc::InvalidSize;
    } else if (dynamic_cast<const std::out_of_range*>(&e)) {
      out.code = rc::OutOfRange;
    } else if (dynamic_cast<const std::invalid_argument*>(&e)) {
      out.code = rc::InvalidArgument;
    } else {
      out.code = rc::ExceptionHasNoResultCode;
    }
    out.nested = NestedOf(e);
    if (withText) {
      try {
        out.text = e.what();
      } catch (...) {
      }
    }
  } catch (...) {
    out.code = rc::UnknownException;
    if (withText) {
      try {
        out.text = "unknown exception";
      } catch (...) {
      }
    }
  }
  return out;
}

bool AcceptsErrors(ITracer* tracer) noexcept {
  if (!tracer) return false;
  try {
    return tracer->IsLevelEnabled(300);
  } catch (...) {
    return false;
  }
}

}  // namespace

namespace {

// Appends the text of `first`'s level and every level nested in it.
void AppendChain(std::string& out, const Level& first) {
  out += first.text;
  // A chain is finite, but a cycle would be a bug in a thrower; cap it.
  std::exception_ptr next = first.nested;
  for (int depth = 0; next && depth < 64; ++depth) {
    Level level = Examine(next, true);
    out += "; nested: ";
    out += level.text;
    next = level.nested;
  }
}

}  // namespace

Result ExceptionToResult(ITracer* tracer, std::string_view prefix) noexcept {
  std::exception_ptr current = std::current_exception();
  if (!current) return rc::NoCurrentException;

  const bool trace = AcceptsErrors(tracer);
  const Level outer = Examine(current, trace);
  if (!trace) return outer.code;

  try {
    std::string line(prefix);
    line += " ";
    AppendChain(line, outer);
    tracer->Trace(300, line.data(), line.size());
  } catch (...) {
    // The conversion must answer even when the trace cannot be written.
  }
  return outer.code;
}

std::string DescribeCurrentException() noexcept {
  std::exception_ptr current = std::current_exception();
  if (!current) return {};
  try {
    std::string text;
    AppendChain(text, Examine(current, true));
    return text;
  } catch (...) {
    return {};
  }
}

}  // namespace oru
