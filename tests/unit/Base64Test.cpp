#include "transport/Base64.h"
#include "transport/CameraGet.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>

namespace {

std::string Reference(const std::string& data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    int n =
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                        reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

size_t FormulaLength(size_t n) {
    return n == 0 ? 0 : 4 * ((n + 2) / 3) + 2 * ((n - 1) / 57);
}

} // namespace

TEST(Base64, KnownVectors) {
    EXPECT_EQ(Base64Encode(""), "");
    EXPECT_EQ(Base64Encode("abc"), "YWJj");
    EXPECT_EQ(Base64Encode("\xFF"), "/w==");
    EXPECT_EQ(Base64Encode("ab"), "YWI=");
    EXPECT_EQ(Base64Encode("admin:"), "YWRtaW46");
    EXPECT_EQ(TTools::Base64Encode("admin:530274"), "YWRtaW46NTMwMjc0");
}

TEST(Base64, BreaksLinesAfterEvery57Bytes) {
    std::string b57(57, 'x'), b58(58, 'x');
    EXPECT_EQ(Base64Encode(b57).size(), 76u);
    EXPECT_EQ(Base64Encode(b57).find('\r'), std::string::npos);
    std::string e58 = Base64Encode(b58);
    ASSERT_EQ(e58.size(), 82u);
    EXPECT_EQ(e58.substr(76, 2), "\r\n");
    EXPECT_EQ(e58.substr(78), "eA==");
    // A multiple of 57 never ends with a line break.
    std::string e114 = Base64Encode(std::string(114, 'y'));
    EXPECT_EQ(e114.size(), 154u);
    EXPECT_NE(e114.substr(e114.size() - 2), "\r\n");
}

TEST(Base64, MatchesIndependentEncoderAndLengthFormula) {
    std::mt19937 rng(7);
    for (size_t n = 0; n < 400; n += (n < 130 ? 1 : 17)) {
        std::string data(n, '\0');
        for (char& c : data)
            c = static_cast<char>(rng());
        std::string ours = Base64Encode(data);
        EXPECT_EQ(ours.size(), FormulaLength(n)) << n;
        std::string joined;
        for (char c : ours)
            if (c != '\r' && c != '\n') joined += c;
        EXPECT_EQ(joined, Reference(data)) << n;
        EXPECT_EQ(Base64EncodeLine(data), Reference(data)) << n;
    }
}
