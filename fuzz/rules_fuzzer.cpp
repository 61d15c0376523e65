// Feeds arbitrary bytes to the rules readers as a rules document (plain or
// gzip-compressed), and to the rules that could be built as an event.
// Nothing may crash, trip a sanitizer or hang; refusals are expected.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include <fuzzer/FuzzedDataProvider.h>

#include <boost/json/parse.hpp>

#include "component/sendara/base/detail/common/utf_convert.h"
#include "component/sendara/edr_telemetry/detail/serializers/exclusion_rules_json.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules_converter.h"
#include "component/sendara/edr_telemetry/source/client/filtration/match_like.h"

namespace {

using namespace sendara::edr_telemetry;

void EvaluateAll(const std::vector<ExclusionRule>& rules, const boost::json::value& event) {
  for (const ExclusionRule& rule : rules) {
    try {
      (void)rule.filterExpression->Evaluate(event);
    } catch (const std::exception&) {
      // A field that cannot be compared: the filter skips such a rule.
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider input(data, size);
  const bool compressed = input.ConsumeBool();
  const std::string document = input.ConsumeRandomLengthString(size);
  const std::string eventText = input.ConsumeRemainingBytesAsString();

  ExclusionRules rules;
  try {
    if (compressed) {
      ConvertToExclusionRules(nullptr, std::vector<std::uint8_t>(document.begin(), document.end()), rules,
                              nullptr);
    } else {
      ConvertToExclusionRulesFromString(nullptr, sendara::base::ToUtf16(document), rules, nullptr);
    }
  } catch (const std::exception&) {
    // A document that cannot be read is refused whole.
  }
  (void)ToTraceJson(rules);

  boost::system::error_code error;
  const boost::json::value event = boost::json::parse(eventText, error);
  if (!error) {
    EvaluateAll(rules.dropRules, event);
    EvaluateAll(rules.removeAllIoaRules, event);
    EvaluateAll(rules.removeIoaRules, event);
  }
  (void)filtration::MatchLike(eventText, document);
  return 0;
}
