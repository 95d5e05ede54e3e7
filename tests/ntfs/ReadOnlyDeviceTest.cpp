#include "Ntfs3g.h"
#include "ReadOnlyDevice.h"
#include "TestImage.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

namespace orva::ntfs::testing
{
namespace
{
// A device over bytes [100, 110) of a file holding "0123456789abcdefghij...".
class ReadOnlyDeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const std::string path = m_folder.File("bytes");
        std::string content;
        for (int i = 0; i < 200; ++i)
            content += static_cast<char>('0' + i % 64);
        m_fd = ::open(path.c_str(), O_CREAT | O_RDWR | O_TRUNC, 0644);
        ASSERT_EQ(::write(m_fd, content.data(), content.size()), 200);
        m_expected = content.substr(100, 10);
        m_range.fd = m_fd;
        m_range.offset = 100;
        m_range.length = 10;
        m_device = NewReadOnlyDevice("test", &m_range);
        ASSERT_NE(m_device, nullptr);
    }
    void TearDown() override
    {
        if (NDevOpen(m_device))
            m_device->d_ops->close(m_device);
        ntfs_device_free(m_device);
        ::close(m_fd);
    }

    TempFolder m_folder;
    int m_fd = -1;
    std::string m_expected;
    ReadOnlyDeviceRange m_range;
    ntfs_device* m_device = nullptr;
};

TEST_F(ReadOnlyDeviceTest, OpensOnlyForReading)
{
    for (const int flags : {O_RDWR, O_WRONLY})
    {
        errno = 0;
        EXPECT_EQ(m_device->d_ops->open(m_device, flags), -1);
        EXPECT_EQ(errno, EROFS);
    }
    ASSERT_EQ(m_device->d_ops->open(m_device, O_RDONLY), 0);
    EXPECT_TRUE(NDevReadOnly(m_device));
}

TEST_F(ReadOnlyDeviceTest, ReadsStayInsideTheRange)
{
    ASSERT_EQ(m_device->d_ops->open(m_device, O_RDONLY), 0);
    char buffer[32] = {};
    EXPECT_EQ(m_device->d_ops->pread(m_device, buffer, 32, 0), 10);
    EXPECT_EQ(std::string(buffer, 10), m_expected);
    EXPECT_EQ(m_device->d_ops->pread(m_device, buffer, 4, 8), 2);
    EXPECT_EQ(m_device->d_ops->pread(m_device, buffer, 4, 10), 0);
    EXPECT_EQ(m_device->d_ops->seek(m_device, 0, SEEK_END), 10);
    EXPECT_EQ(m_device->d_ops->seek(m_device, -3, SEEK_CUR), 7);
    EXPECT_EQ(m_device->d_ops->read(m_device, buffer, 32), 3);
    EXPECT_EQ(std::string(buffer, 3), m_expected.substr(7));
    EXPECT_EQ(m_device->d_ops->seek(m_device, -1, SEEK_SET), -1);
}

TEST_F(ReadOnlyDeviceTest, WritesFailAndLeaveTheFileAlone)
{
    ASSERT_EQ(m_device->d_ops->open(m_device, O_RDONLY), 0);
    errno = 0;
    EXPECT_EQ(m_device->d_ops->pwrite(m_device, "XXXX", 4, 0), -1);
    EXPECT_EQ(errno, EROFS);
    errno = 0;
    EXPECT_EQ(m_device->d_ops->write(m_device, "XXXX", 4), -1);
    EXPECT_EQ(errno, EROFS);
    char buffer[10];
    ASSERT_EQ(::pread(m_fd, buffer, 10, 100), 10);
    EXPECT_EQ(std::string(buffer, 10), m_expected);
}
} // namespace
} // namespace orva::ntfs::testing
