// Windows only: the errno mapping in system_error.cpp serves every system.

#include "component/platform/system_error.h"

#include "windows_api.h"

namespace platform {
namespace {
// Windows' own name for it, which MinGW's <winerror.h> lacks.
constexpr std::uint32_t kErrorInvalidImageHash = 577;
}  // namespace

oru::Result ResultFromWindowsError(std::uint32_t error) noexcept {
  namespace rc = oru::rc;
  switch (error) {
    case ERROR_SUCCESS:
      return rc::NoError;
    case ERROR_FILE_NOT_FOUND:
      return rc::FileNotFound;
    case ERROR_PATH_NOT_FOUND:
      return rc::PathNotFound;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return rc::SharingViolation;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
      return rc::AlreadyExists;
    case ERROR_INVALID_HANDLE:
      return rc::InvalidHandle;
    case ERROR_INVALID_NAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BAD_PATHNAME:
      return rc::InvalidPathName;
    case ERROR_MOD_NOT_FOUND:
      return rc::ModuleNotFound;
    case ERROR_PROC_NOT_FOUND:
      return rc::SymbolNotFound;
    case ERROR_BAD_EXE_FORMAT:
      return rc::SystemImageBadFormat;
    case kErrorInvalidImageHash:  // ERROR_INVALID_IMAGE_HASH
      return rc::SystemImageBadSignature;
    case ERROR_SXS_CANT_GEN_ACTCTX:
      return rc::SxsIsIncorrect;
    case ERROR_SHUTDOWN_IN_PROGRESS:
      return rc::SystemShutdownInProgress;
    case WSAECONNREFUSED:
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETDOWN:
    case WSAENETUNREACH:
    case WSAENETRESET:
    case WSAEHOSTUNREACH:
    case WSAEHOSTDOWN:
    case WSAENOTCONN:
    case WSAESHUTDOWN:
    case WSAEADDRNOTAVAIL:
    case WSAHOST_NOT_FOUND:
    case WSATRY_AGAIN:
    case WSANO_DATA:
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return rc::NetworkError;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return rc::OutOfMemory;
    case ERROR_ACCESS_DENIED:
    case WSAEACCES:
      return rc::AccessDenied;
    case ERROR_INVALID_PARAMETER:
    case WSAEINVAL:
      return rc::InvalidArgument;
    case WAIT_TIMEOUT:
    case ERROR_TIMEOUT:
    case WSAETIMEDOUT:
      return rc::OperationTimeout;
    case ERROR_OPERATION_ABORTED:
    case ERROR_CANCELLED:
    case WSAECANCELLED:
      return rc::OperationCancelled;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return rc::OutOfSpace;
    case ERROR_NO_SYSTEM_RESOURCES:
    case WSAENOBUFS:
    case WSAEMFILE:
      return rc::InsufficientResources;
    case ERROR_FILE_TOO_LARGE:
      return rc::FileIsTooBig;
    case ERROR_NOT_SUPPORTED:
    case ERROR_CALL_NOT_IMPLEMENTED:
    case WSAEOPNOTSUPP:
      return rc::NotSupported;
    default:
      return rc::UnspecifiedPlatformError;
  }
}

}  // namespace platform
