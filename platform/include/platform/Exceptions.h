// The exceptions that leave the platform's callers: a file error carrying the
// operating system's error and the file name, and running out of memory.
#pragma once

#include "platform/WinTypes.h"

#include <exception>
#include <string>

class CFileException final : public std::exception
{
public:
    enum Cause
    {
        none,
        genericException,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };

    // `osError` is the errno value of the failed call.
    CFileException(int cause, LONG osError, std::u16string fileName);

    int m_cause;
    LONG m_lOsError;
    std::u16string m_strFileName;

    // The file name and the system's text for the error: "Perf.log: Resource temporarily
    // unavailable", UTF-8.
    const char* what() const noexcept override;

private:
    std::string m_what;
};

class CMemoryException final : public std::exception
{
public:
    const char* what() const noexcept override { return "out of memory"; }
};
