#include "component/oru/result_text.h"

#include <algorithm>
#include <array>
#include <utility>

namespace oru {
namespace {

using Entry = std::pair<Result, std::string_view>;

constexpr auto kTexts = [] {
  std::array<Entry, 84> table{{
    {rc::NoError, "No error"},
    {rc::False, "False"},
    {rc::InterfaceNotSupported, "Interface not supported"},
    {rc::Unexpected, "Unexpected"},
    {rc::OutOfMemory, "Out of memory"},
    {rc::NotSupported, "Not supported"},
    {rc::NotImplemented, "Not implemented"},
    {rc::BufferTooSmall, "Buffer too small"},
    {rc::AccessDenied, "Access denied"},
    {rc::InvalidArgument, "Invalid argument"},
    {rc::BadCast, "Bad cast"},
    {rc::NotMatched, "Not matched"},
    {rc::UnspecifiedError, "Unspecified error"},
    {rc::NotFound, "Not found"},
    {rc::Found, "Found"},
    {rc::Locked, "Locked"},
    {rc::NotLocked, "Not locked"},
    {rc::OperationCancelled, "Operation cancelled"},
    {rc::MethodNotFound, "Method not found"},
    {rc::StackIsEmpty, "Stack is empty"},
    {rc::MediaError, "Media error"},
    {rc::InvalidSignature, "Invalid signature"},
    {rc::InvalidVersion, "Invalid version"},
    {rc::InvalidSize, "Invalid size"},
    {rc::InvalidType, "Invalid type"},
    {rc::OutOfRange, "Out of range"},
    {rc::OutOfSpace, "Out of space"},
    {rc::NotReady, "Not ready"},
    {rc::LessThan, "Less than"},
    {rc::MoreThan, "More than"},
    {rc::Prohibited, "Prohibited"},
    {rc::AlreadyDone, "Already done"},
    {rc::NeedReboot, "Need reboot"},
    {rc::BasesCorrupted, "Bases corrupted"},
    {rc::InvalidState, "Invalid state"},
    {rc::NotInitialized, "Not initialized"},
    {rc::InsufficientResources, "Insufficient resources"},
    {rc::ReparsePointsProhibited, "Reparse Points Prohibited"},
    {rc::InvalidResult, "Invalid result"},
    {rc::UnknownException, "Unknown exception"},
    {rc::MetaInformationNotFound, "Meta information not found"},
    {rc::NumericalTypeOverflow, "Numerical type overflow"},
    {rc::FileIsTooBig, "File is too big"},
    {rc::TraceLevelOk, "Trace level ok"},
    {rc::TraceLevelProhibited, "Trace level prohibited"},
    {rc::ClassNotFound, "Class not found"},
    {rc::SettingsAreRequired, "Settings are required"},
    {rc::UnexpectedSettings, "Unexpected settings"},
    {rc::WrongSettingsType, "Wrong settings type"},
    {rc::WrongSettingsRevision, "Wrong settings revision"},
    {rc::SettingsNotFound, "Settings not found"},
    {rc::ObjectIsUntrusted, "Object is untrusted"},
    {rc::NoCurrentException, "No current exception"},
    {rc::ExceptionHasNoResultCode, "Exception has no result code"},
    {rc::ExceptionWithSuccessfulResultCode, "Exception with successful result code"},
    {rc::PropertyNotFound, "Property not found"},
    {rc::OperationTimeout, "Operation timeout"},
    {rc::InvalidSymbol, "Invalid symbol"},
    {rc::NonDecSymbol, "Non dec symbol"},
    {rc::NonHexSymbol, "Non hex symbol"},
    {rc::NonBase64Symbol, "Non base64 symbol"},
    {rc::SyntaxError, "Syntax error"},
    {rc::GuidSyntaxError, "GUID syntax error"},
    {rc::OidSyntaxError, "OID syntax error"},
    {rc::DateTimeSyntaxError, "DateTime syntax error"},
    {rc::UnspecifiedPlatformError, "Unspecified platform error"},
    {rc::InvalidHandle, "Invalid handle"},
    {rc::FileNotFound, "File not found"},
    {rc::PathNotFound, "Path not found"},
    {rc::SharingViolation, "Sharing violation"},
    {rc::AlreadyExists, "Already exists"},
    {rc::WaitAbandoned, "Wait abandoned"},
    {rc::SymbolNotFound, "Symbol not found"},
    {rc::SxsIsIncorrect, "Sxs is incorrect"},
    {rc::InvalidPathName, "Invalid path name"},
    {rc::CannotOpenAnonymousLevelSecurityToken, "Cannot open an anonymous level security token"},
    {rc::PasswordIsInvalid, "Password is invalid"},
    {rc::ModuleNotFound, "Module not found"},
    {rc::SystemImageBadSignature, "System image bad signature"},
    {rc::CloudFileRequestAborted, "Cloud file request aborted"},
    {rc::MemoryMappingFailed, "Memory mapping failed"},
    {rc::NetworkError, "Network error"},
    {rc::SystemImageBadFormat, "System image bad format"},
    {rc::SystemShutdownInProgress, "System shutdown in progress"},
  }};
  // Sorted by signed value so that lookup is a binary search.
  std::sort(table.begin(), table.end(),
            [](const Entry& a, const Entry& b) { return a.first < b.first; });
  return table;
}();

static_assert(std::adjacent_find(kTexts.begin(), kTexts.end(),
                                 [](const Entry& a, const Entry& b) {
                                   return a.first == b.first;
                                 }) == kTexts.end(),
              "every result code has one text");

}  // namespace

std::string_view GetResultText(Result result) noexcept {
  const auto it = std::lower_bound(
      kTexts.begin(), kTexts.end(), result,
      [](const Entry& e, Result r) { return e.first < r; });
  if (it != kTexts.end() && it->first == result) return it->second;
  return "Unknown result code";
}

}  // namespace oru
