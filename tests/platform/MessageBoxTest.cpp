#include "platform/MessageBox.h"

#include "platform/Exceptions.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

namespace
{
std::vector<std::pair<std::u16string, UINT>> g_shown;

int RecordingHandler(LPCWSTR text, UINT type)
{
    g_shown.emplace_back(text, type);
    return IDYES;
}
} // namespace

TEST(MessageBox, InstalledHandlerAnswersAndIsSwappedBack)
{
    g_shown.clear();
    const MessageBoxHandler previous = AfxSetMessageBoxHandler(RecordingHandler);
    EXPECT_EQ(AfxMessageBox(u"EQU"), IDYES);
    EXPECT_EQ(AfxMessageBox(u"\u662F\u5426?", MB_YESNO | MB_ICONQUESTION), IDYES);
    ASSERT_EQ(g_shown.size(), 2u);
    EXPECT_EQ(g_shown[0], std::make_pair(std::u16string(u"EQU"), MB_OK));
    EXPECT_EQ(g_shown[1].second, MB_YESNO | MB_ICONQUESTION);
    EXPECT_EQ(AfxSetMessageBoxHandler(previous), RecordingHandler);
}

TEST(MessageBox, WithoutHandlerWritesToStandardErrorAndAgreesToNothing)
{
    const MessageBoxHandler previous = AfxSetMessageBoxHandler(nullptr);
    const struct
    {
        UINT type;
        int answer;
    } cases[] = {{MB_OK, IDOK}, {MB_YESNO | MB_ICONQUESTION, IDNO}, {MB_OKCANCEL, IDCANCEL}};
    for (const auto& c : cases)
    {
        testing::internal::CaptureStderr();
        EXPECT_EQ(AfxMessageBox(u"\u4E2D EQU", c.type), c.answer);
        EXPECT_EQ(testing::internal::GetCapturedStderr(), "\xE4\xB8\xAD EQU\n");
    }
    AfxSetMessageBoxHandler(previous);
}

TEST(FileException, CarriesOsErrorAndFileName)
{
    const CFileException error(CFileException::sharingViolation, EAGAIN, u"Perf.log");
    EXPECT_EQ(error.m_cause, CFileException::sharingViolation);
    EXPECT_EQ(error.m_lOsError, EAGAIN);
    EXPECT_EQ(error.m_strFileName, u"Perf.log");
    EXPECT_STREQ(error.what(), "Perf.log: Resource temporarily unavailable");
    const CFileException full(CFileException::diskFull, ENOSPC, u"\u65E5\u5FD7.log");
    EXPECT_STREQ(full.what(), "\xE6\x97\xA5\xE5\xBF\x97.log: No space left on device");
}
