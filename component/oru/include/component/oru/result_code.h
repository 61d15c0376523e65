#pragma once

#include <cstdint>

namespace oru {

// Signed 32-bit result code. Bit 31 set means failure; bits 16 to 30 are the
// facility (0: framework, 1: platform).
using Result = std::int32_t;

constexpr bool Failed(Result r) noexcept { return r < 0; }
constexpr bool Succeeded(Result r) noexcept { return r >= 0; }
constexpr std::uint32_t FacilityOf(Result r) noexcept {
  return (static_cast<std::uint32_t>(r) >> 16) & 0x7FFFu;
}

namespace rc {
// The literals are written as unsigned hex and narrowed once here, so call
// sites compare with the values that appear in traces.
constexpr Result Make(std::uint32_t value) noexcept { return static_cast<Result>(value); }

inline constexpr Result NoError = 0;
inline constexpr Result False = 1;
inline constexpr Result InterfaceNotSupported = Make(0x80000001);
inline constexpr Result Unexpected = Make(0x80000040);
inline constexpr Result OutOfMemory = Make(0x80000041);
inline constexpr Result NotSupported = Make(0x80000042);
inline constexpr Result NotImplemented = Make(0x80000043);
inline constexpr Result BufferTooSmall = Make(0x80000044);
inline constexpr Result AccessDenied = Make(0x80000045);
inline constexpr Result InvalidArgument = Make(0x80000046);
inline constexpr Result BadCast = Make(0x80000047);
inline constexpr Result NotMatched = Make(0x8000004A);
inline constexpr Result UnspecifiedError = Make(0x8000004B);
inline constexpr Result NotFound = Make(0x8000004C);
inline constexpr Result Found = Make(0x8000004D);
inline constexpr Result Locked = Make(0x8000004F);
inline constexpr Result NotLocked = Make(0x80000050);
inline constexpr Result OperationCancelled = Make(0x80000051);
inline constexpr Result MethodNotFound = Make(0x80000057);
inline constexpr Result StackIsEmpty = Make(0x80000058);
inline constexpr Result MediaError = Make(0x80000059);
inline constexpr Result InvalidSignature = Make(0x8000005A);
inline constexpr Result InvalidVersion = Make(0x8000005B);
inline constexpr Result InvalidSize = Make(0x8000005C);
inline constexpr Result InvalidType = Make(0x8000005D);
inline constexpr Result OutOfRange = Make(0x8000005E);
inline constexpr Result OutOfSpace = Make(0x80000062);
inline constexpr Result NotReady = Make(0x80000063);
inline constexpr Result LessThan = Make(0x80000064);
inline constexpr Result MoreThan = Make(0x80000065);
inline constexpr Result Prohibited = Make(0x80000066);
inline constexpr Result AlreadyDone = Make(0x80000067);
inline constexpr Result NeedReboot = Make(0x80000068);
inline constexpr Result BasesCorrupted = Make(0x80000069);
inline constexpr Result InvalidState = Make(0x8000006A);
inline constexpr Result NotInitialized = Make(0x8000006B);
inline constexpr Result InsufficientResources = Make(0x8000006C);
inline constexpr Result ReparsePointsProhibited = Make(0x8000006E);
inline constexpr Result InvalidResult = Make(0x80000071);
inline constexpr Result UnknownException = Make(0x80000072);
inline constexpr Result MetaInformationNotFound = Make(0x80000076);
inline constexpr Result NumericalTypeOverflow = Make(0x80000077);
inline constexpr Result FileIsTooBig = Make(0x80000078);
inline constexpr Result TraceLevelOk = Make(0x80000079);
inline constexpr Result TraceLevelProhibited = Make(0x8000007A);
inline constexpr Result ClassNotFound = Make(0x80000100);
inline constexpr Result SettingsAreRequired = Make(0x80000101);
inline constexpr Result UnexpectedSettings = Make(0x80000102);
inline constexpr Result WrongSettingsType = Make(0x80000103);
inline constexpr Result WrongSettingsRevision = Make(0x80000104);
inline constexpr Result SettingsNotFound = Make(0x80000105);
inline constexpr Result ObjectIsUntrusted = Make(0x80000106);
inline constexpr Result NoCurrentException = Make(0x80000150);
inline constexpr Result ExceptionHasNoResultCode = Make(0x80000151);
inline constexpr Result ExceptionWithSuccessfulResultCode = Make(0x80000152);
inline constexpr Result PropertyNotFound = Make(0x80000180);
inline constexpr Result OperationTimeout = Make(0x80000221);
inline constexpr Result InvalidSymbol = Make(0x80000300);
inline constexpr Result NonDecSymbol = Make(0x80000301);
inline constexpr Result NonHexSymbol = Make(0x80000302);
inline constexpr Result NonBase64Symbol = Make(0x80000303);
inline constexpr Result SyntaxError = Make(0x80000310);
inline constexpr Result GuidSyntaxError = Make(0x80000311);
inline constexpr Result OidSyntaxError = Make(0x80000312);
inline constexpr Result DateTimeSyntaxError = Make(0x80000313);

// Platform facility.
inline constexpr Result UnspecifiedPlatformError = Make(0x80010100);
inline constexpr Result InvalidHandle = Make(0x80010101);
inline constexpr Result FileNotFound = Make(0x80010102);
inline constexpr Result PathNotFound = Make(0x80010103);
inline constexpr Result SharingViolation = Make(0x80010104);
inline constexpr Result AlreadyExists = Make(0x80010105);
inline constexpr Result WaitAbandoned = Make(0x80010106);
inline constexpr Result SymbolNotFound = Make(0x80010107);
inline constexpr Result SxsIsIncorrect = Make(0x80010108);
inline constexpr Result InvalidPathName = Make(0x80010109);
inline constexpr Result CannotOpenAnonymousLevelSecurityToken = Make(0x80010110);
inline constexpr Result PasswordIsInvalid = Make(0x80010111);
inline constexpr Result ModuleNotFound = Make(0x80010112);
inline constexpr Result SystemImageBadSignature = Make(0x80010113);
inline constexpr Result CloudFileRequestAborted = Make(0x80010114);
inline constexpr Result MemoryMappingFailed = Make(0x80010115);
inline constexpr Result NetworkError = Make(0x80010116);
inline constexpr Result SystemImageBadFormat = Make(0x80010117);
inline constexpr Result SystemShutdownInProgress = Make(0x80010118);
}  // namespace rc

}  // namespace oru
