#pragma once

#include <string_view>

namespace sendara::base::detail {

// The fully qualified name of a function from the compiler's signature text
// (__PRETTY_FUNCTION__): no return type, parameters, qualifiers or template
// argument list; a lambda gives the name of the function it is written in.
//   "void sendara::base::PollingThread::Polling(sendara::base::StopToken)"
//       -> "sendara::base::PollingThread::Polling"
constexpr std::string_view FunctionNameFromSignature(std::string_view signature) {
  std::string_view s = signature;
  if (const auto with = s.find(" [with "); with != std::string_view::npos) s = s.substr(0, with);

  std::size_t nameEnd = s.size();
  for (;;) {
    const auto close = s.rfind(')');
    if (close == std::string_view::npos) return s;  // not a function signature
    // The opening parenthesis of the parameter list that ends at `close`.
    std::size_t open = close;
    int depth = 0;
    for (std::size_t i = close + 1; i-- > 0;) {
      if (s[i] == ')') ++depth;
      if (s[i] == '(' && --depth == 0) {
        open = i;
        break;
      }
    }
    constexpr std::string_view kLambda = "::<lambda";
    const std::string_view head = s.substr(0, open);
    if (head.size() >= kLambda.size() && head.ends_with(kLambda)) {
      // "f(args)::<lambda()>": continue with the enclosing "f(args)".
      s = head.substr(0, head.size() - kLambda.size());
      continue;
    }
    nameEnd = open;
    break;
  }

  // An operator's own characters ("operator>", "operator bool") would upset
  // the walk below: start it at the keyword.
  std::size_t walkFrom = nameEnd;
  constexpr std::string_view kOperator = "operator";
  const std::string_view head = s.substr(0, nameEnd);
  if (const auto op = head.rfind(kOperator); op != std::string_view::npos) {
    const bool startsName = op == 0 || head[op - 1] == ':' || head[op - 1] == ' ';
    const std::string_view rest = head.substr(op + kOperator.size());
    const bool isKeyword = rest.empty() || !((rest[0] >= 'a' && rest[0] <= 'z') ||
                                             (rest[0] >= 'A' && rest[0] <= 'Z') ||
                                             (rest[0] >= '0' && rest[0] <= '9') || rest[0] == '_');
    if (startsName && isKeyword && rest.find("::") == std::string_view::npos) walkFrom = op;
  }

  // Walk back over the name; spaces inside template arguments or parameter
  // lists do not end it.
  std::size_t begin = walkFrom;
  int depth = 0;
  while (begin > 0) {
    const char c = s[begin - 1];
    if (c == '>' || c == ')') {
      ++depth;
    } else if (c == '<' || c == '(') {
      if (depth > 0) --depth;
    } else if (c == ' ' && depth == 0) {
      break;
    }
    --begin;
  }
  return s.substr(begin, nameEnd - begin);
}

}  // namespace sendara::base::detail

// The fully qualified name of the enclosing function, computed at compile
// time: the constexpr local forces constant evaluation (a consteval function
// would do the same, but clang 14 refuses it inside templates).
#define SENDARA_FUNCTION_NAME                                                     \
  (__extension__({                                                                \
    static constexpr std::string_view sendaraFunctionName_ =                      \
        ::sendara::base::detail::FunctionNameFromSignature(__PRETTY_FUNCTION__); \
    sendaraFunctionName_;                                                         \
  }))
