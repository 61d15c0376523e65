#include "component/platform/system_error.h"

#include <cerrno>

namespace platform {

oru::Result ResultFromErrno(int error) noexcept {
  namespace rc = oru::rc;
  switch (error) {
    case 0:
      return rc::NoError;
    case ENOENT:
      return rc::FileNotFound;
    case ENOTDIR:
      return rc::PathNotFound;
    case EEXIST:
      return rc::AlreadyExists;
    case EBUSY:
    case ETXTBSY:
      return rc::SharingViolation;
    case EBADF:
      return rc::InvalidHandle;
    case ENAMETOOLONG:
    case ELOOP:
      return rc::InvalidPathName;
    case ENOEXEC:
      return rc::SystemImageBadFormat;
    case ECONNREFUSED:
    case ECONNRESET:
    case ECONNABORTED:
    case ENETDOWN:
    case ENETUNREACH:
    case ENETRESET:
    case EHOSTUNREACH:
#ifdef EHOSTDOWN  // not in MinGW's errno.h
    case EHOSTDOWN:
#endif
    case ENOTCONN:
    case EPIPE:
      return rc::NetworkError;
    case ENOMEM:
      return rc::OutOfMemory;
    case EACCES:
    case EPERM:
      return rc::AccessDenied;
    case EINVAL:
      return rc::InvalidArgument;
    case ETIMEDOUT:
      return rc::OperationTimeout;
    case ECANCELED:
      return rc::OperationCancelled;
    case ENOSPC:
      return rc::OutOfSpace;
    case EAGAIN:
      return rc::InsufficientResources;
    case EFBIG:
      return rc::FileIsTooBig;
    case ENOSYS:
    case EOPNOTSUPP:
      return rc::NotSupported;
    default:
      return rc::UnspecifiedPlatformError;
  }
}

oru::Result ResultFromErrorCode(const std::error_code& error) noexcept {
  if (error.category() == std::generic_category()) return ResultFromErrno(error.value());
  if (error.category() == std::system_category()) {
#if defined(_WIN32)
    return ResultFromWindowsError(static_cast<std::uint32_t>(error.value()));
#else
    return ResultFromErrno(error.value());
#endif
  }
  return oru::rc::UnspecifiedPlatformError;
}

oru::Result ResultFromSystemError(const std::system_error& error) noexcept { return ResultFromErrorCode(error.code()); }

}  // namespace platform
