#include "component/sendara/edr_telemetry/source/client/exclusion_rules_converter.h"

#include <zlib.h>

#include <climits>
#include <string>

#include <boost/json/parse.hpp>
#include <boost/json/serialize.hpp>

#include "component/oru/exception_to_result.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/detail/serializers/exclusion_rule_reader.h"
#include "component/sendara/edr_telemetry/source/client/filtration/ast_builder.h"

namespace sendara::edr_telemetry {
namespace {

using base::TraceLevel;

// Expressions nest two JSON levels per operator; leave room for deep but
// sane rules while keeping the parser's own guard against stack exhaustion.
boost::json::parse_options RulesParseOptions() {
  boost::json::parse_options options;
  options.max_depth = 2 * filtration::AstBuilder::kMaximumDepth + 16;
  return options;
}

bool IsEmptyMember(const boost::json::value& value) {
  if (const auto* array = value.if_array()) return array->empty();
  if (const auto* object = value.if_object()) return object->empty();
  if (const auto* text = value.if_string()) return text->empty();
  return false;
}

void AppendRule(ExclusionRules& target, ExclusionRule rule) {
  switch (rule.action.index()) {
    case 0:
      target.dropRules.push_back(std::move(rule));
      break;
    case 1:
      target.removeAllIoaRules.push_back(std::move(rule));
      break;
    default:
      target.removeIoaRules.push_back(std::move(rule));
      break;
  }
}

[[noreturn]] void ThrowUndecompressable() {
  SENDARA_THROW(base::invalid_json_exception, oru::rc::InvalidArgument,
                "compressed rules document cannot be decompressed");
}

// gzip, one member or several one after the other; anything else, a member
// cut short or bytes after the last one fail.
std::string Inflate(const std::vector<std::uint8_t>& compressed) {
  std::string inflated;
  // An empty buffer holds no document at all: nothing to inflate.
  if (compressed.empty()) return inflated;
  if (compressed.size() > UINT_MAX) ThrowUndecompressable();
  z_stream stream{};
  // 16 + the largest window: a gzip wrapper, never a bare zlib stream.
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
    SENDARA_THROW(base::invalid_json_exception, oru::rc::OutOfMemory, "rules decompressor cannot be set up");
  }
  struct End {
    z_stream* stream;
    ~End() { inflateEnd(stream); }
  } end{&stream};
  stream.next_in = const_cast<Bytef*>(compressed.data());
  stream.avail_in = static_cast<uInt>(compressed.size());
  char chunk[64 * 1024];
  for (;;) {
    stream.next_out = reinterpret_cast<Bytef*>(chunk);
    stream.avail_out = sizeof chunk;
    const int status = inflate(&stream, Z_NO_FLUSH);
    if (status != Z_OK && status != Z_STREAM_END) ThrowUndecompressable();
    const std::size_t n = sizeof chunk - stream.avail_out;
    if (inflated.size() + n > kMaximumInflatedRulesSize) {
      base::invalid_json_exception exception(oru::rc::FileIsTooBig,
                                             "compressed rules document inflates past the limit", __FILE__,
                                             __LINE__);
      exception.SetProperty("limit", static_cast<std::uint64_t>(kMaximumInflatedRulesSize));
      throw exception;
    }
    inflated.append(chunk, n);
    if (status == Z_STREAM_END) {
      if (stream.avail_in == 0) return inflated;
      if (inflateReset(&stream) != Z_OK) ThrowUndecompressable();
    } else if (stream.avail_in == 0 && n == 0) {
      ThrowUndecompressable();  // input ended inside a member
    }
  }
}

}  // namespace

void GetExclusionRulesFromJson(oru::ITracer* tracer, const boost::json::value& document,
                               ExclusionRules& target, const filtration::IAstBuilder& builder) {
  const boost::json::object* root = document.if_object();
  const boost::json::value* rules = root ? root->if_contains("rules") : nullptr;
  if (!rules || IsEmptyMember(*rules)) return;
  SENDARA_CHECK(rules->is_array(), base::invalid_json_exception, oru::rc::InvalidType,
                "rules is not an array");

  for (const boost::json::value& element : rules->get_array()) {
    try {
      ExclusionRule rule = rule_from_json(element, builder);
      if (!rule.enable) {
        SENDARA_TRACE(tracer, TraceLevel::kInfo, "excluded rule: " << boost::json::serialize(element));
        continue;
      }
      AppendRule(target, std::move(rule));
    } catch (...) {
      std::string prefix = "[";
      prefix += SENDARA_FUNCTION_NAME;
      prefix += "] Can't build rule from ";
      prefix += boost::json::serialize(element);
      oru::ExceptionToResult(tracer, prefix);
    }
  }
}

void ConvertToExclusionRules(oru::ITracer* tracer, const std::vector<std::uint8_t>& compressed,
                             ExclusionRules& target, const filtration::IAstBuilder* builder) {
  const std::string text = Inflate(compressed);
  if (text.empty()) {
    SENDARA_TRACE(tracer, TraceLevel::kInfo, "decompressed string is empty, skipping");
    return;
  }

  boost::system::error_code error;
  const boost::json::value document = boost::json::parse(text, error, {}, RulesParseOptions());
  if (error) {
    base::invalid_json_exception exception(
        oru::rc::InvalidState, "[" + std::string(SENDARA_FUNCTION_NAME) + "] failed expression",
        __FILE__, __LINE__);
    exception.SetProperty(oru::property::kAdditionalInfo,
                          std::string("compressed json deserialization failed"));
    exception.SetProperty("error_value", static_cast<std::int64_t>(error.value()));
    exception.SetProperty("error_message", error.message());
    base::ThrowNested(std::move(exception));
  }

  const filtration::AstBuilder defaultBuilder;
  GetExclusionRulesFromJson(tracer, document, target, builder ? *builder : defaultBuilder);
}

void ConvertToExclusionRulesFromString(oru::ITracer* tracer, std::u16string_view text,
                                       ExclusionRules& target, const filtration::IAstBuilder* builder) {
  if (text.empty()) return;
  boost::system::error_code error;
  const boost::json::value document =
      boost::json::parse(base::ToUtf8(text), error, {}, RulesParseOptions());
  if (error) {
    base::invalid_json_exception exception(oru::rc::SyntaxError, "rules document is not valid JSON",
                                           __FILE__, __LINE__);
    exception.SetProperty("error_message", error.message());
    base::ThrowNested(std::move(exception));
  }
  const filtration::AstBuilder defaultBuilder;
  GetExclusionRulesFromJson(tracer, document, target, builder ? *builder : defaultBuilder);
}

}  // namespace sendara::edr_telemetry
