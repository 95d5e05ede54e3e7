#include "platform/Exceptions.h"

#include "platform/Paths.h"

#include <cstring>

CFileException::CFileException(int cause, LONG osError, std::u16string fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(std::move(fileName))
{
    char buffer[256];
    // The GNU strerror_r, which returns the text (not always in `buffer`).
    const char* reason = strerror_r(static_cast<int>(osError), buffer, sizeof buffer);
    m_what = orva::platform::ToUtf8(m_strFileName) + ": " + reason;
}

const char* CFileException::what() const noexcept
{
    return m_what.c_str();
}
