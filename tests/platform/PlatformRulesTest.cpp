#include "platform/FileCopy.h"
#include "platform/Identifier.h"
#include "platform/VersionNumber.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>

using platform::FileCopy;
using platform::Identifier;
using platform::VersionNumber;

// The rows every party that orders versions must agree on: {older, newer}.
TEST(VersionNumber, OrdersComponentWiseWithMissingAndNonNumericPartsAsZero) {
    const std::pair<const char*, const char*> olderNewer[] = {
        {"3.1", "3.1.1"},  {"3.9", "3.10"},   {"2", "10"},
        {"", "0.1"},       {"1.beta", "1.1"}, {"2rc1", "3"},
        {"1.2", "1.10.0"}, {"0.9.9", "1"},    {"99999999999999999999", "99999999999999999999.1"}};
    for (const auto& [older, newer] : olderNewer) {
        EXPECT_LT(VersionNumber::compare(older, newer), 0) << older << " < " << newer;
        EXPECT_GT(VersionNumber::compare(newer, older), 0) << newer << " > " << older;
    }
    const std::pair<const char*, const char*> same[] = {{"3.1", "3.1.0"},    {"", "0"},
                                                        {"1.0-beta", "1.0"}, {"01.2", "1.02"},
                                                        {"1..2", "1.0.2"},   {"3.2", "3.2"}};
    for (const auto& [left, right] : same) {
        EXPECT_EQ(VersionNumber::compare(left, right), 0) << left << " = " << right;
        EXPECT_EQ(VersionNumber::compare(right, left), 0) << right << " = " << left;
    }
}

TEST(Identifier, AcceptsOnlyPlainReverseDnsNames) {
    using Texts = std::initializer_list<std::string>;
    for (const auto& valid : Texts{"com.quorvantis.remote", "a", "A-b_c.9", std::string(200, 'x')})
        EXPECT_TRUE(Identifier::isValid(valid)) << valid;
    for (const auto& invalid : Texts{"", ".hidden", "a/b", "a b", "../etc", "caf\xc3\xa9",
                                     std::string(201, 'x'), std::string("a\0b", 3)})
        EXPECT_FALSE(Identifier::isValid(invalid)) << invalid;
}

TEST(FileCopy, CopiesEveryByteAndReportsChunksAndAShrunkSource) {
    testsupport::TemporaryFolder folder;
    std::string data(FileCopy::kChunk * 2 + 123, '\0');
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 7);
    const std::string from = folder.write("from", data);
    const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(in, 0);
    // Within one file system the kernel copies; into another one (memory, where /tmp is on a disk) the
    // plain copy takes over.
    const std::string elsewhere = "/dev/shm/qvt-copy-" + std::to_string(::getpid());
    int out = -1;
    for (const auto& to : {elsewhere, folder.path() + "/to"}) {
        if (out >= 0)
            ::close(out);
        out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(out, 0) << to;
        ASSERT_EQ(::lseek(in, 0, SEEK_SET), 0);
        std::vector<uint64_t> chunks;
        EXPECT_TRUE(
            FileCopy::copy(in, out, data.size(), [&](uint64_t done) { chunks.push_back(done); }).ok());
        EXPECT_EQ(testsupport::readFile(to), data) << to;
        EXPECT_EQ(chunks, (std::vector<uint64_t>{FileCopy::kChunk, FileCopy::kChunk * 2, data.size()})) << to;
    }
    ::unlink(elsewhere.c_str());

    // Asked for more than the source holds, the read side fails; a full disk fails on the write side.
    const int full = ::open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    const std::tuple<int, uint64_t, const char*, int> failures[] = {
        {out, data.size() + 1, FileCopy::kReadDomain, ENODATA},
        {full, data.size(), FileCopy::kWriteDomain, ENOSPC}};
    for (const auto& [to, size, domain, code] : failures) {
        ASSERT_EQ(::lseek(in, 0, SEEK_SET), 0);
        const auto failed = FileCopy::copy(in, to, size);
        ASSERT_FALSE(failed.ok()) << domain;
        EXPECT_EQ(failed.failure().domain, domain);
        EXPECT_EQ(failed.failure().code, code) << domain;
    }
    ::close(out);
    ::close(full);
    ::close(in);
}
