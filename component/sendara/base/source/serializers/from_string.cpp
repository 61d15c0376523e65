#include "component/sendara/base/detail/serializers/from_string.h"

#include <boost/json/parse.hpp>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/serializers/lone_surrogate_escapes.h"

namespace sendara::base {

boost::json::value from_string(std::string_view text) {
  const std::optional<std::string> repaired = ReplaceLoneSurrogateEscapes(text);
  if (repaired) text = *repaired;
  // Events may nest deeper than the parser's default of 32 levels; the limit
  // still bounds the recursion of destroying the document.
  boost::json::parse_options options;
  options.max_depth = kMaximumDepth;
  boost::system::error_code error;
  boost::json::value document = boost::json::parse(text, error, {}, options);
  if (error) {
    invalid_json_exception exception("string conversion to json error", __FILE__, __LINE__);
    exception.SetProperty("description_error", error.message());
    ThrowNested(std::move(exception));
  }
  if (!document.is_object() && !document.is_null()) {
    ThrowNested(invalid_json_exception("json not object or nullptr", __FILE__, __LINE__));
  }
  return document;
}

}  // namespace sendara::base
