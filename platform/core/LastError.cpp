#include "platform/LastError.h"

#include <cerrno>

namespace
{
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

DWORD GetLastError()
{
    return t_lastError;
}

void SetLastError(DWORD errorCode)
{
    t_lastError = errorCode;
}

DWORD ErrorFromErrno(int errnoValue)
{
    switch (errnoValue)
    {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        return ERROR_FILE_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case EACCES:
    case EPERM:
    case EROFS:
        return ERROR_ACCESS_DENIED;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EAGAIN:
        return ERROR_LOCK_VIOLATION;
    case EBUSY:
        return ERROR_SHARING_VIOLATION;
    case EIO:
        return ERROR_READ_FAULT;
    case ENOTSUP:
        return ERROR_NOT_SUPPORTED;
    default:
        return ERROR_INVALID_FUNCTION;
    }
}
