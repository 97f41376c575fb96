#include "transport/Pk2Package.h"
#include "transport/CtpSession.h"

#include "SimPk2.h"
#include "support/Sandbox.h"

#include <gtest/gtest.h>

using sim::TPk2Record;

class Pk2 : public testsupport::TSandbox {
  protected:
    std::string Write(const std::string& bytes) {
        std::string p = Root + "p.pk2";
        testsupport::WriteFile(p, bytes);
        return p;
    }
};

TEST_F(Pk2, MagicAndHeaderLength) {
    EXPECT_TRUE(TSocketThread::IsPackageFile(Write(sim::Pk2Bytes({}))));
    EXPECT_FALSE(TSocketThread::IsPackageFile(Write(sim::Pk2Bytes({}, std::string("PK3\0", 4)))));
    EXPECT_FALSE(TSocketThread::IsPackageFile(Write(sim::Pk2Bytes({}, "PK2X"))));
    EXPECT_FALSE(TSocketThread::IsPackageFile(Write(sim::Pk2Bytes({}).substr(0, 27))));
    EXPECT_FALSE(TSocketThread::IsPackageFile(Root + "missing.pk2"));
}

TEST_F(Pk2, LimitsAreCheckedBeforeAnythingIsSent) {
    auto ok = [&](std::vector<TPk2Record> r, long long count = -1) {
        return TSocketThread::CheckPackageLimits(Write(sim::Pk2Bytes(r, std::string("PK2\0", 4), count)));
    };
    EXPECT_TRUE(
        ok({{"FILE", "a.img", std::string(3000, 'x')}, {"CMD ", "", "reboot"}, {"XTRA", "", "skipped"}}));
    EXPECT_TRUE(ok({{"FILE", std::string(255, 'n'), "x"}}));
    EXPECT_FALSE(ok({{"FILE", std::string(256, 'n'), "x"}}));
    EXPECT_FALSE(ok({{"FILE", std::string("a\0b", 3), "x"}}));
    TPk2Record pastEnd{"FILE", "a", "xyz"};
    pastEnd.Size = 1000;
    pastEnd.Length = 8 + 1 + 1000;
    EXPECT_FALSE(ok({pastEnd}));
    TPk2Record inconsistent{"FILE", "a", "xyz"};
    inconsistent.Size = 2;
    EXPECT_FALSE(ok({inconsistent}));
    EXPECT_TRUE(ok({{"CMD ", "", std::string(2048 - 10, 'c')}}));
    EXPECT_FALSE(ok({{"CMD ", "", std::string(2048 - 9, 'c')}}));
    EXPECT_FALSE(ok({{"CMD ", "", "x"}}, 2)); // a record that is not there
    EXPECT_TRUE(ok({}, 0));
}

TEST_F(Pk2, ReadsAndSkipsGiveTheFileBytesAcrossBlockEnds) {
    const size_t block = TPackageFile::BlockSize;
    std::string bytes(2 * block + 100, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 % 251);
    TPackageFile f(Write(bytes));
    auto read = [&](size_t n) {
        std::string s(n, '\0');
        s.resize(f.Read(s.data(), n));
        return s;
    };
    size_t at = 0;
    auto expect = [&](size_t n) {
        EXPECT_EQ(read(n), bytes.substr(at, n)) << "at " << at;
        at = std::min(at + n, bytes.size());
    };
    auto skip = [&](size_t n) {
        EXPECT_TRUE(f.Skip(static_cast<int64_t>(n)));
        at += n;
    };
    expect(10);
    skip(block - 20); // inside the first block
    expect(30);       // across its end
    skip(block);      // past the block read, into the file
    expect(50);
    skip(0);
    EXPECT_FALSE(f.Skip(-1));
    expect(1000); // the end: only what is left
    EXPECT_EQ(at, bytes.size());
    EXPECT_EQ(read(1), "");
}
