#include <cerrno>
#include <system_error>

#include <gtest/gtest.h>

#include "component/oru/result_code.h"
#include "component/oru/result_text.h"
#include "component/platform/system_error.h"

#if defined(_WIN32)
#include <winerror.h>
#endif

namespace {

using oru::GetResultText;
namespace rc = oru::rc;

TEST(ResultCode, TextsOfBothFacilities) {
  EXPECT_EQ(GetResultText(0), "No error");
  EXPECT_EQ(GetResultText(1), "False");
  EXPECT_EQ(GetResultText(rc::Make(0x80000046)), "Invalid argument");
  EXPECT_EQ(GetResultText(rc::Make(0x8000006E)), "Reparse Points Prohibited");
  EXPECT_EQ(GetResultText(rc::Make(0x80000100)), "Class not found");
  EXPECT_EQ(GetResultText(rc::Make(0x80000313)), "DateTime syntax error");
  EXPECT_EQ(GetResultText(rc::Make(0x80010100)), "Unspecified platform error");
  EXPECT_EQ(GetResultText(rc::Make(0x80010110)), "Cannot open an anonymous level security token");
  EXPECT_EQ(GetResultText(rc::Make(0x80010118)), "System shutdown in progress");
}

TEST(ResultCode, UnlistedCodesAreUnknown) {
  EXPECT_EQ(GetResultText(rc::Make(0x80020000)), "Unknown result code");  // other facility
  EXPECT_EQ(GetResultText(rc::Make(0x80000048)), "Unknown result code");  // gap in facility 0
  EXPECT_EQ(GetResultText(rc::Make(0x8001010A)), "Unknown result code");  // gap in facility 1
  EXPECT_EQ(GetResultText(2), "Unknown result code");
  EXPECT_EQ(GetResultText(rc::Make(0x00010100)), "Unknown result code");  // success bit pattern
}

TEST(ResultCode, FailureAndFacility) {
  EXPECT_TRUE(oru::Failed(rc::InvalidArgument));
  EXPECT_FALSE(oru::Failed(rc::False));
  EXPECT_EQ(oru::FacilityOf(rc::InvalidArgument), 0u);
  EXPECT_EQ(oru::FacilityOf(rc::FileNotFound), 1u);
  EXPECT_EQ(oru::FacilityOf(rc::Make(0x80020000)), 2u);
}

TEST(ResultCode, ErrnoMapsOntoPlatformFacilityWhereOneFits) {
  EXPECT_EQ(platform::ResultFromErrno(0), rc::NoError);
  EXPECT_EQ(platform::ResultFromErrno(ENOENT), rc::FileNotFound);
  EXPECT_EQ(platform::ResultFromErrno(ENOTDIR), rc::PathNotFound);
  EXPECT_EQ(platform::ResultFromErrno(EEXIST), rc::AlreadyExists);
  EXPECT_EQ(platform::ResultFromErrno(ECONNREFUSED), rc::NetworkError);
  EXPECT_EQ(platform::ResultFromErrno(ENOMEM), rc::OutOfMemory);
  EXPECT_EQ(platform::ResultFromErrno(EACCES), rc::AccessDenied);
  EXPECT_EQ(platform::ResultFromErrno(ETIMEDOUT), rc::OperationTimeout);
  EXPECT_EQ(platform::ResultFromErrno(EXDEV), rc::UnspecifiedPlatformError);
  EXPECT_EQ(platform::ResultFromSystemError(
                std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again))),
            rc::InsufficientResources);
}

// The system category holds the system's own codes: errno values on POSIX
// systems, Windows error codes on Windows (whose 13 is no EACCES).
TEST(ResultCode, ErrorCodesMapByTheirCategory) {
#if defined(_WIN32)
  const int accessDenied = ERROR_ACCESS_DENIED;
  const oru::Result systemEacces = rc::UnspecifiedPlatformError;
#else
  const int accessDenied = EACCES;
  const oru::Result systemEacces = rc::AccessDenied;
#endif
  EXPECT_EQ(platform::ResultFromErrorCode(std::error_code(accessDenied, std::system_category())), rc::AccessDenied);
  EXPECT_EQ(platform::ResultFromErrorCode(std::error_code(EACCES, std::system_category())), systemEacces);
  EXPECT_EQ(platform::ResultFromErrorCode(std::error_code(EACCES, std::generic_category())), rc::AccessDenied);
  EXPECT_EQ(platform::ResultFromErrorCode(std::make_error_code(std::io_errc::stream)), rc::UnspecifiedPlatformError);
}

#if defined(_WIN32)
TEST(ResultCode, WindowsErrorsMapOntoPlatformFacilityWhereOneFits) {
  EXPECT_EQ(platform::ResultFromWindowsError(ERROR_SUCCESS), rc::NoError);
  EXPECT_EQ(platform::ResultFromWindowsError(ERROR_FILE_NOT_FOUND), rc::FileNotFound);
  EXPECT_EQ(platform::ResultFromWindowsError(ERROR_PATH_NOT_FOUND), rc::PathNotFound);
  EXPECT_EQ(platform::ResultFromWindowsError(ERROR_LOCK_VIOLATION), rc::SharingViolation);
  EXPECT_EQ(platform::ResultFromWindowsError(ERROR_MOD_NOT_FOUND), rc::ModuleNotFound);
  EXPECT_EQ(platform::ResultFromWindowsError(ERROR_PROC_NOT_FOUND), rc::SymbolNotFound);
  EXPECT_EQ(platform::ResultFromWindowsError(ERROR_NOT_ENOUGH_MEMORY), rc::OutOfMemory);
  EXPECT_EQ(platform::ResultFromWindowsError(WSAECONNRESET), rc::NetworkError);
  EXPECT_EQ(platform::ResultFromWindowsError(WSAETIMEDOUT), rc::OperationTimeout);
  EXPECT_EQ(platform::ResultFromWindowsError(ERROR_INVALID_FUNCTION), rc::UnspecifiedPlatformError);
}
#endif

}  // namespace
