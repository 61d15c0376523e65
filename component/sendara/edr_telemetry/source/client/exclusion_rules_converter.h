#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include <boost/json/value.hpp>

#include "component/oru/i_tracer.h"
#include "component/sendara/edr_telemetry/source/client/exclusion_rules.h"
#include "component/sendara/edr_telemetry/source/client/filtration/i_ast_builder.h"

namespace sendara::edr_telemetry {

// A gzip rules document larger than this once inflated is refused: a small
// compressed buffer must not be able to exhaust the host's memory.
inline constexpr std::size_t kMaximumInflatedRulesSize = 64u << 20;

// Appends the enabled rules of one parsed rules document ({"rules": [...]})
// to `target`, each in the list of its action kind, in document order. A rule
// that cannot be built is traced ("Can't build rule from ") and skipped; a
// disabled rule is traced ("excluded rule: ") and dropped.
void GetExclusionRulesFromJson(oru::ITracer* tracer, const boost::json::value& document,
                               ExclusionRules& target, const filtration::IAstBuilder& builder);

// One gzip-compressed rules document. `builder` may be null (a default one
// is used).
void ConvertToExclusionRules(oru::ITracer* tracer, const std::vector<std::uint8_t>& compressed,
                             ExclusionRules& target, const filtration::IAstBuilder* builder);

// One rules document as UTF-16 JSON text; an empty text adds nothing.
void ConvertToExclusionRulesFromString(oru::ITracer* tracer, std::u16string_view text,
                                       ExclusionRules& target, const filtration::IAstBuilder* builder);

}  // namespace sendara::edr_telemetry
