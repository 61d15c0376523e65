#include "component/sendara/edr_telemetry/source/client/filtration/ast_builder.h"

#include <boost/json/object.hpp>

#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/and.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/bit_and.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/contains.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/equal.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/exists.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/greater.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/greater_equal.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/i_equal.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/in.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/in_like.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/less.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/less_equal.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/like.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/not.h"
#include "component/sendara/edr_telemetry/source/client/filtration/operators/or.h"

namespace sendara::edr_telemetry::filtration {
namespace {

using base::sendara_exception;
using Children = std::vector<std::shared_ptr<const FilterNode>>;

// A leaf whose operands do not fit: "Unspecified error", no check message.
#define LEAF_CHECK(condition) SENDARA_CHECK(condition, sendara_exception, oru::rc::UnspecifiedError, "")

template <class Leaf>
std::shared_ptr<const FilterNode> MakeBinary(const boost::json::array& operands, bool negate) {
  LEAF_CHECK(operands.size() == 2 && operands[0].is_string());
  return std::make_shared<const Leaf>(std::string_view(operands[0].get_string()),
                                      ConvertJsonconsToFilterType(operands[1]), negate);
}

template <class Leaf>
std::shared_ptr<const FilterNode> MakeNary(const boost::json::array& operands, bool negate) {
  LEAF_CHECK(operands.size() >= 2 && operands[0].is_string());
  std::vector<FilterType> constants;
  constants.reserve(operands.size() - 1);
  for (std::size_t i = 1; i < operands.size(); ++i) {
    constants.push_back(ConvertJsonconsToFilterType(operands[i]));
  }
  return std::make_shared<const Leaf>(std::string_view(operands[0].get_string()),
                                      std::move(constants), negate);
}

std::shared_ptr<const FilterNode> MakeExists(const boost::json::array& operands, bool negate) {
  LEAF_CHECK(operands.size() == 1 && operands[0].is_string());
  return std::make_shared<const Exists>(std::string_view(operands[0].get_string()), negate);
}

std::shared_ptr<const FilterNode> RecursiveBuilder(const boost::json::value& node, int depth) {
  const boost::json::object* object = node.if_object();
  const boost::json::value* name = object ? object->if_contains("operator") : nullptr;
  const boost::json::value* operands = object ? object->if_contains("operands") : nullptr;
  const bool operatorIsString = name && name->is_string();
  const bool operandsIsNull = !operands || operands->is_null();
  if (!operatorIsString || operandsIsNull) {
    sendara_exception exception(oru::rc::InvalidArgument,
                                "[" + std::string(SENDARA_FUNCTION_NAME) + "] failed expression",
                                __FILE__, __LINE__);
    exception.SetProperty(oru::property::kAdditionalInfo, std::string("invalid json"));
    exception.SetProperty("operator_is_string", operatorIsString);
    exception.SetProperty("operands_is_null", operandsIsNull);
    base::ThrowNested(std::move(exception));
  }

  const boost::json::array* array = operands->if_array();
  SENDARA_CHECK(array && !array->empty(), sendara_exception, oru::rc::InvalidArgument,
                "operands must be a non-empty array");
  SENDARA_CHECK(depth < AstBuilder::kMaximumDepth, sendara_exception, oru::rc::OutOfRange,
                "expression nested too deeply");

  Children children;
  if (array->front().is_object()) {
    children.reserve(array->size());
    for (const boost::json::value& element : *array) {
      children.push_back(RecursiveBuilder(element, depth + 1));
    }
  }
  return CreateOperator(ParseOperator(name->get_string()), std::move(children), *array);
}

}  // namespace

std::shared_ptr<const FilterNode> CreateOperator(OperatorType type, Children children,
                                                 const boost::json::array& operands) {
  switch (type) {
    case OperatorType::kAnd:
      return std::make_shared<const And>(std::move(children));
    case OperatorType::kOr:
      return std::make_shared<const Or>(std::move(children));
    case OperatorType::kNot:
      return std::make_shared<const Not>(std::move(children));
    case OperatorType::kEqual:
      return MakeBinary<Equal>(operands, false);
    case OperatorType::kNotEqual:
      return MakeBinary<Equal>(operands, true);
    case OperatorType::kGreater:
      return MakeBinary<Greater>(operands, false);
    case OperatorType::kGreaterEqual:
      return MakeBinary<GreaterEqual>(operands, false);
    case OperatorType::kLess:
      return MakeBinary<Less>(operands, false);
    case OperatorType::kLessEqual:
      return MakeBinary<LessEqual>(operands, false);
    case OperatorType::kLike:
      return MakeBinary<Like>(operands, false);
    case OperatorType::kNotLike:
      return MakeBinary<Like>(operands, true);
    case OperatorType::kBitAnd:
      return MakeBinary<BitAnd>(operands, false);
    case OperatorType::kIEqual:
      return MakeBinary<IEqual>(operands, false);
    case OperatorType::kContains:
      return MakeBinary<Contains>(operands, false);
    case OperatorType::kIn:
      return MakeNary<In>(operands, false);
    case OperatorType::kNotIn:
      return MakeNary<In>(operands, true);
    case OperatorType::kInLike:
      return MakeNary<InLike>(operands, false);
    case OperatorType::kNotInLike:
      return MakeNary<InLike>(operands, true);
    case OperatorType::kExists:
      return MakeExists(operands, false);
    case OperatorType::kNotExists:
      return MakeExists(operands, true);
    case OperatorType::kUnknown:
      break;
  }
  SENDARA_CHECK(false, sendara_exception, oru::rc::InvalidArgument, "");
  return nullptr;  // not reached
}

std::shared_ptr<const FilterNode> AstBuilder::Build(const boost::json::value& expression) const {
  return RecursiveBuilder(expression, 0);
}

}  // namespace sendara::edr_telemetry::filtration
