#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "component/sendara/base/detail/common/function_name.h"
#include "component/sendara/base/detail/common/hex_address.h"
#include "component/sendara/base/detail/common/sensitive_data_trace_policy.h"
#include "component/sendara/base/detail/common/trace_line.h"
#include "component/sendara/base/detail/common/trace_scope.h"
#include "host/sensitive_data_policy.h"
#include "host/tracer.h"

namespace sendara::edr_telemetry::telemetry {
// Stand-ins with the shapes of the component's own functions.
class TelemetryHandlerImpl {
 public:
  explicit TelemetryHandlerImpl(std::string* name, int = 0) {
    *name = std::string(SENDARA_FUNCTION_NAME);
  }
  template <class T>
  static std::string_view Templated(const T&) noexcept {
    return SENDARA_FUNCTION_NAME;
  }
  std::string_view Const(int (*)(int)) const { return SENDARA_FUNCTION_NAME; }
  std::string_view InLambda() {
    return [] { return [] { return SENDARA_FUNCTION_NAME; }(); }();
  }
  std::string_view operator()() { return SENDARA_FUNCTION_NAME; }
};
}  // namespace sendara::edr_telemetry::telemetry

namespace {

using namespace sendara::base;
using sendara::edr_telemetry::telemetry::TelemetryHandlerImpl;

std::string_view FreeFunction(std::vector<std::pair<int, int>>) { return SENDARA_FUNCTION_NAME; }

TEST(FunctionName, FullyQualifiedWithoutReturnTypeOrParameters) {
  std::string constructor;
  TelemetryHandlerImpl handler(&constructor);
  EXPECT_EQ(constructor, "sendara::edr_telemetry::telemetry::TelemetryHandlerImpl::TelemetryHandlerImpl");
  EXPECT_EQ(TelemetryHandlerImpl::Templated(1),
            "sendara::edr_telemetry::telemetry::TelemetryHandlerImpl::Templated");
  EXPECT_EQ(handler.Const(nullptr), "sendara::edr_telemetry::telemetry::TelemetryHandlerImpl::Const");
  EXPECT_EQ(handler.InLambda(), "sendara::edr_telemetry::telemetry::TelemetryHandlerImpl::InLambda");
  EXPECT_EQ(handler(), "sendara::edr_telemetry::telemetry::TelemetryHandlerImpl::operator()");
  EXPECT_EQ(FreeFunction({}), "{anonymous}::FreeFunction");
  static_assert(detail::FunctionNameFromSignature("bool a::P::operator>(const a::P&) const") ==
                "a::P::operator>");
  static_assert(detail::FunctionNameFromSignature("a::P* a::P::operator->()") == "a::P::operator->");
  static_assert(detail::FunctionNameFromSignature("a::P::operator bool() const") ==
                "a::P::operator bool");
  static_assert(detail::FunctionNameFromSignature("int a::P::operatorX(int)") == "a::P::operatorX");
  static_assert(detail::FunctionNameFromSignature(
                    "static std::map<int, std::pair<int, int> > a::b::C<T>::f(int) const [with T = int]") ==
                "a::b::C<T>::f");
}

class TraceTest : public ::testing::Test {
 protected:
  oru::RefPtr<reference_host::Tracer> m_tracer = reference_host::Tracer::Create(700);
};

TEST_F(TraceTest, LineHasFunctionPrefixAndIsNotFormattedAboveTheLevel) {
  int evaluated = 0;
  const auto count = [&] { return ++evaluated; };
  SENDARA_TRACE(m_tracer, TraceLevel::kInfo, "size queue = " << count() << "; id = " << 7);
  SENDARA_TRACE(m_tracer, TraceLevel::kDetail, "per event " << count());
  EXPECT_EQ(evaluated, 1);
  const auto lines = m_tracer->Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 700);
  EXPECT_EQ(lines[0].text,
            "[{anonymous}::TraceTest_LineHasFunctionPrefixAndIsNotFormattedAboveTheLevel_Test::"
            "TestBody] size queue = 1; id = 7");
}

struct Exploding {};
std::ostream& operator<<(std::ostream&, const Exploding&) { throw std::runtime_error("formatter broke"); }

TEST_F(TraceTest, ExceptionWhileFormattingIsWrittenInstead) {
  SENDARA_TRACE(m_tracer, TraceLevel::kError, "value " << Exploding{});
  const auto lines = m_tracer->Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].text.find("] exception on trace: formatter broke"), std::string::npos)
      << lines[0].text;
  EXPECT_EQ(lines[0].text.find("value"), std::string::npos);
}

TEST_F(TraceTest, ScopeTracesBeginAndEndAlsoWhenLeftByException) {
  const auto work = [this] {
    SENDARA_TRACE_SCOPE(m_tracer, TraceLevel::kInfo);
    throw std::runtime_error("fails");
  };
  EXPECT_THROW(work(), std::runtime_error);
  const auto lines = m_tracer->Lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(lines[0].text.ends_with("] begin")) << lines[0].text;
  EXPECT_TRUE(lines[1].text.ends_with("] end")) << lines[1].text;
  EXPECT_EQ(lines[0].text.substr(0, lines[0].text.size() - 5),
            lines[1].text.substr(0, lines[1].text.size() - 3));
}

TEST_F(TraceTest, NoTracerMeansNothingIsEvaluated) {
  bool evaluated = false;
  oru::ITracer* none = nullptr;
  SENDARA_TRACE(none, TraceLevel::kError, (evaluated = true));
  EXPECT_FALSE(evaluated);
}

TEST(HexAddress, DigitsOnlyAndStreamFlagsKept) {
  std::ostringstream out;
  out << "0x" << HexAddress(reinterpret_cast<const void*>(0xABCD0)) << ' ' << 255;
  EXPECT_EQ(out.str(), "0xabcd0 255");
}

TEST(SensitiveData, HiddenUnlessThePolicyAllowsIt) {
  EXPECT_EQ(SensitiveDataTracePolicy().Reveal("event"), "<sensitive data was hidden>");
  EXPECT_FALSE(SensitiveDataTracePolicy().IsAllowed());

  const auto policy = reference_host::SensitiveDataPolicy::Create(false);
  const SensitiveDataTracePolicy guard{oru::RefPtr<oru::ISensitiveDataPolicy>(policy.Get())};
  EXPECT_EQ(guard.Reveal("{\"eventType\":\"x\"}"), "<sensitive data was hidden>");
  policy->SetAllowed(true);
  EXPECT_EQ(guard.Reveal("{\"eventType\":\"x\"}"), "{\"eventType\":\"x\"}");
  EXPECT_EQ(policy->Questions(), 2u);
  EXPECT_EQ(SensitiveDataTracePolicy::kSensitiveData, "<sensitive data>");
}

}  // namespace
