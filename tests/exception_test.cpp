#include <filesystem>
#include <fstream>
#include <new>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include <boost/json.hpp>
#include <gtest/gtest.h>

#include "catch_as.h"
#include "component/oru/check_result_failed_exception.h"
#include "component/oru/exception_to_result.h"
#include "component/oru/get_interface_exception.h"
#include "component/oru/i_sensitive_data_policy.h"
#include "component/oru/service_lookup.h"
#include "component/sendara/base/detail/common/check.h"
#include "component/sendara/base/detail/common/connection_exception.h"
#include "component/sendara/base/detail/common/invalid_json_exception.h"
#include "component/sendara/base/detail/common/sendara_exception.h"
#include "component/sendara/base/detail/common/tools_exception.h"
#include "component/sendara/base/detail/common/trace_directory_content.h"
#include "component/sendara/base/detail/serializers/from_string.h"
#include "component/sendara/base/detail/serializers/lone_surrogate_escapes.h"
#include "host/service_locator.h"
#include "host/tracer.h"
#include "temp_directory.h"

namespace {

namespace rc = oru::rc;
using namespace sendara::base;

// Converts whatever `thrower` throws, the way a host-facing boundary does.
template <class F>
oru::Result Convert(F&& thrower, oru::ITracer* tracer = nullptr, std::string_view prefix = "[test]") {
  try {
    thrower();
  } catch (...) {
    return oru::ExceptionToResult(tracer, prefix);
  }
  return rc::NoError;
}

TEST(ExceptionToResult, EachLevelKind) {
  EXPECT_EQ(oru::ExceptionToResult(nullptr, "x"), rc::NoCurrentException);
  EXPECT_EQ(Convert([] {
              throw oru::CheckResultFailedException(rc::InvalidArgument, "m", __FILE__, __LINE__);
            }),
            rc::InvalidArgument);
  EXPECT_EQ(Convert([] { throw internal_exception(0, "zero", __FILE__, __LINE__); }),
            rc::ExceptionWithSuccessfulResultCode);
  EXPECT_EQ(Convert([] { throw sendara_exception(1, "false", __FILE__, __LINE__); }),
            rc::ExceptionWithSuccessfulResultCode);
  EXPECT_EQ(Convert([] { throw oru::Exception("no code", __FILE__, __LINE__); }),
            rc::ExceptionHasNoResultCode);
  EXPECT_EQ(Convert([] { throw std::bad_alloc(); }), rc::OutOfMemory);
  EXPECT_EQ(Convert([] { throw std::bad_cast(); }), rc::BadCast);
  EXPECT_EQ(Convert([] { throw std::length_error("l"); }), rc::InvalidSize);
  EXPECT_EQ(Convert([] { throw std::out_of_range("o"); }), rc::OutOfRange);
  EXPECT_EQ(Convert([] { throw std::invalid_argument("i"); }), rc::InvalidArgument);
  EXPECT_EQ(Convert([] { throw std::runtime_error("r"); }), rc::ExceptionHasNoResultCode);
  EXPECT_EQ(Convert([] { throw 42; }), rc::UnknownException);
}

TEST(ExceptionToResult, ChainGivesOutermostCodeAndTracesEveryLevel) {
  const auto tracer = reference_host::Tracer::Create();
  const auto result = Convert(
      [] {
        try {
          SENDARA_THROW(tools_exception, rc::FileNotFound, "inner failure");
        } catch (...) {
          SENDARA_THROW(sendara_exception, rc::UnspecifiedError, "outer failure");
        }
      },
      tracer.Get(), "[sendara::Test::Op]");
  EXPECT_EQ(result, rc::UnspecifiedError);

  const auto lines = tracer->Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].level, 300);
  const std::string& text = lines[0].text;
  EXPECT_EQ(text.rfind("[sendara::Test::Op] outer failure. At tests/exception_test.cpp(", 0), 0u)
      << text;
  const auto outer = text.find("outer failure");
  const auto inner = text.find("inner failure");
  ASSERT_NE(inner, std::string::npos) << text;
  EXPECT_LT(outer, inner);
  EXPECT_NE(text.find("oru.result = 0x80010102 (File not found)"), std::string::npos) << text;
}

// An unknown level nested in a known one: named in the trace when errors
// are traced, and not examined at all (nothing traced) when they are not.
TEST(ExceptionToResult, NestedUnknownLevelIsNamedOnlyWhenErrorsAreTraced) {
  const auto thrower = [] {
    try {
      throw 7;
    } catch (...) {
      SENDARA_THROW(connection_exception, rc::NetworkError, "connect");
    }
  };
  const auto errors = reference_host::Tracer::Create();
  EXPECT_EQ(Convert(thrower, errors.Get()), rc::NetworkError);
  ASSERT_EQ(errors->Lines().size(), 1u);
  EXPECT_NE(errors->Lines()[0].text.find("; nested: unknown exception"), std::string::npos);

  const auto quiet = reference_host::Tracer::Create(200);
  EXPECT_EQ(Convert(thrower, quiet.Get()), rc::NetworkError);
  EXPECT_TRUE(quiet->Lines().empty());
}

TEST(ExceptionText, MessageFileLineAndProperties) {
  oru::Exception plain("plain", "a/b.cpp", 12);
  EXPECT_EQ(plain.ToString(), "plain. At a/b.cpp(12) ");

  contract_exception e("bad value", "a/b.cpp", 13);
  e.SetProperty("additional_info", std::string("size > 0"));
  e.SetProperty("count", std::int64_t{-3});
  EXPECT_EQ(e.ToString(),
            "bad value. At a/b.cpp(13)  Properties: oru.result = 0x80000046 (Invalid argument); "
            "additional_info = size > 0; count = -3");
  e.SetProperty("count", std::uint64_t{4});
  EXPECT_EQ(std::get<std::uint64_t>(*e.FindProperty("count")), 4u);
  EXPECT_EQ(e.FindProperty("missing"), nullptr);
}

TEST(CheckHelpers, FailedExpressionWithAdditionalInfo) {
  try {
    SENDARA_CHECK(1 + 1 == 3, tools_exception, rc::NotReady, "can't start polling");
    FAIL() << "no exception";
  } catch (const tools_exception& e) {
    EXPECT_EQ(e.Message(),
              "[{anonymous}::CheckHelpers_FailedExpressionWithAdditionalInfo_Test::"
              "TestBody] failed expression");
    EXPECT_EQ(e.Code(), rc::NotReady);
    EXPECT_EQ(std::get<std::string>(*e.FindProperty("additional_info")), "can't start polling");
    EXPECT_STREQ(e.File(), "tests/exception_test.cpp");
  }
}

TEST(CheckHelpers, ResultCheckCarriesTheFailingCodeAndContractCarriesInvalidArgument) {
  EXPECT_NO_THROW(SENDARA_CHECK_RESULT(rc::False, tools_exception, "succeeds"));
  const auto failed = CatchAs<oru::CheckResultFailedException>(
      [] { SENDARA_CHECK_RESULT(rc::AccessDenied, oru::CheckResultFailedException, "open"); });
  ASSERT_TRUE(failed);
  EXPECT_EQ(failed->Code(), rc::AccessDenied);
  EXPECT_THROW(SENDARA_CONTRACT(false, "x"), contract_exception);
  EXPECT_EQ(Convert([] { SENDARA_CONTRACT(false, "x"); }), rc::InvalidArgument);
}

TEST(CheckHelpers, ThrownInsideAHandlerTheCheckCarriesTheCause) {
  try {
    try {
      throw std::runtime_error("cause");
    } catch (...) {
      SENDARA_CHECK(false, tools_exception, rc::UnspecifiedError, "wrapping");
    }
    FAIL() << "no exception";
  } catch (const tools_exception& e) {
    const auto* nested = dynamic_cast<const std::nested_exception*>(&e);
    ASSERT_NE(nested, nullptr);
    EXPECT_THROW(nested->rethrow_nested(), std::runtime_error);
  }
}

TEST(ServiceLookup, RequiredServiceMissingRaisesGetInterfaceException) {
  const auto locator = reference_host::ServiceLocator::Create();
  const auto e = CatchAs<oru::GetInterfaceException>([&] { oru::GetRequiredService<oru::ITracer>(locator.Get()); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Message(), "Can't get interface");
  EXPECT_EQ(e->Code(), rc::NotFound);
  EXPECT_EQ(e->Iid(), 0x6EF3329Bu);
  EXPECT_NE(e->FindProperty("oru.serviceKey"), nullptr);
  EXPECT_NE(e->ToString().find("oru.iid = 0x6EF3329B"), std::string::npos) << e->ToString();
  EXPECT_THROW(oru::GetRequiredService<oru::ITracer>(nullptr), oru::GetInterfaceException);
}

TEST(ServiceLookup, RegisteredServiceIsFoundWithAReference) {
  const auto locator = reference_host::ServiceLocator::Create();
  const auto tracer = reference_host::Tracer::Create();
  EXPECT_FALSE(oru::GetOptionalService<oru::ITracer>(locator.Get()));
  locator->Register(tracer);
  {
    const auto found = oru::GetRequiredService<oru::ITracer>(locator.Get());
    EXPECT_EQ(found.Get(), static_cast<oru::ITracer*>(tracer.Get()));
    EXPECT_EQ(tracer->AddRef(), 4u);  // test, locator, found, and this one
    tracer->Release();
  }
  // A service registered under an id it does not implement is not handed out.
  locator->Register(0x2B6AB0FB, oru::RefPtr<oru::IObject>(tracer.Get()));
  EXPECT_FALSE(oru::GetOptionalService<oru::ISensitiveDataPolicy>(locator.Get()));
}

TEST(FromString, ObjectsAndNullParseOtherDocumentsAreRefused) {
  EXPECT_EQ(from_string(R"({"text":"a"})").at("text").as_string(), "a");
  EXPECT_TRUE(from_string("null").is_null());
  const auto notObject = CatchAs<invalid_json_exception>([] { from_string("[1,2]"); });
  ASSERT_TRUE(notObject);
  EXPECT_EQ(notObject->Message(), "json not object or nullptr");
  const auto cut = CatchAs<invalid_json_exception>([] { from_string(R"({"text": )"); });
  ASSERT_TRUE(cut);
  EXPECT_EQ(cut->Message(), "string conversion to json error");
  const auto* description = cut->FindProperty("description_error");
  ASSERT_NE(description, nullptr);
  EXPECT_FALSE(std::get<std::string>(*description).empty());
}

TEST(FromString, EscapedLoneSurrogatesAreReadAsReplacementCharacters) {
  const auto file = [](std::string_view text) { return std::string(from_string(text).at("f").as_string()); };
  EXPECT_EQ(file(R"({"f":"C:\\a\ud800b"})"), "C:\\a\xEF\xBF\xBD" "b");
  EXPECT_EQ(file(R"({"f":"a\uDC00"})"), "a\xEF\xBF\xBD");
  EXPECT_EQ(file(R"({"f":"\ud800"})"), "\xEF\xBF\xBD");
  // A high one before a pair, and a low one after a pair.
  EXPECT_EQ(file(R"({"f":"\ud800\ud83d\ude00\ude00"})"), "\xEF\xBF\xBD\xF0\x9F\x98\x80\xEF\xBF\xBD");
  // A pair, and an escaped backslash before text: no copy is made.
  EXPECT_FALSE(ReplaceLoneSurrogateEscapes(R"({"f":"\ud83d\ude00\\ud800"})"));
  EXPECT_EQ(file(R"({"f":"\\ud800"})"), "\\ud800");
  EXPECT_FALSE(ReplaceLoneSurrogateEscapes("{\"f\":\"\\u12"));
  EXPECT_THROW(from_string(R"({"f":"\ud800)"), invalid_json_exception);
}

TEST(DirectoryContent, ListsFilesWithSizesAndFolders) {
  const TempDirectory temp;
  const auto dir = temp.Path() / "data";
  std::filesystem::create_directories(dir / "queues");
  std::ofstream(dir / "telemetry-0.db") << "12345";

  const auto content = TraceDirectoryContent::GetDirectoryContent(dir);
  ASSERT_EQ(content.size(), 2u);
  bool sawFile = false, sawFolder = false;
  for (const auto& entry : content) {
    const auto& item = entry.as_object();
    if (item.at("type") == "file") {
      sawFile = true;
      EXPECT_EQ(item.at("path").as_string(), (dir / "telemetry-0.db").string());
      EXPECT_EQ(item.at("size").to_number<std::uint64_t>(), 5u);
    } else {
      sawFolder = true;
      EXPECT_EQ(item.at("type"), "folder");
      EXPECT_FALSE(item.contains("size"));
    }
  }
  EXPECT_TRUE(sawFile && sawFolder);
  std::filesystem::remove_all(dir);

  const auto e = CatchAs<tools_exception>([&] { TraceDirectoryContent::GetDirectoryContent(dir); });
  ASSERT_TRUE(e);
  EXPECT_EQ(e->Message(), "dir enumeration failed");
  EXPECT_EQ(std::get<std::string>(*e->FindProperty("path")), dir.string());
  EXPECT_EQ(e->Code(), rc::FileNotFound);
}

}  // namespace
