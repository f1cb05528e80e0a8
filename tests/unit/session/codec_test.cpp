// The byte codec under Message fields and session datagrams: one layout, one bounded reader.
#include "platform/session/codec.h"

#include <gtest/gtest.h>

#include <array>
#include <vector>

using session::codec::ByteReader;
using session::codec::ByteWriter;

TEST(ByteCodec, FieldsRoundTripLittleEndianAndBytesViewTheInput) {
    std::vector<uint8_t> out;
    ByteWriter w(out);
    w.U8(0xAB);
    w.U16(0x1234);
    w.U32(0xDEADBEEF);
    w.U64(0x0102030405060708ull);
    w.F64(-2.5);
    const std::array<uint8_t, 3> raw = {7, 8, 9};
    w.Bytes(raw);
    w.ZerosUpTo(out.size() + 2);
    ASSERT_EQ(out.size(), 1u + 2 + 4 + 8 + 8 + 3 + 2);
    EXPECT_EQ(out[1], 0x34);
    EXPECT_EQ(out[3], 0xEF);
    EXPECT_EQ(out[7], 0x08);

    ByteReader r(out);
    EXPECT_EQ(r.U8(), 0xAB);
    EXPECT_EQ(r.U16(), 0x1234);
    EXPECT_EQ(r.U32(), 0xDEADBEEFu);
    EXPECT_EQ(r.U64(), 0x0102030405060708ull);
    EXPECT_EQ(r.F64(), -2.5);
    std::array<uint8_t, 3> back{};
    r.FixedBytes(back);
    EXPECT_EQ(back, raw);
    r.ZeroPadding();
    EXPECT_TRUE(r.Ok());
    EXPECT_TRUE(r.AtEnd());
}

TEST(ByteCodec, AFieldPastTheEndFailsTheReaderForGoodAndConsumesNothing) {
    const std::vector<uint8_t> in = {1, 2, 3};
    ByteReader r(in);
    EXPECT_EQ(r.U32(), 0u);
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.Position(), 0u);
    EXPECT_EQ(r.U8(), 0u) << "a failed reader reads nothing more, even what would fit";
    EXPECT_TRUE(r.Bytes(1).empty());
    EXPECT_TRUE(r.Rest().empty());

    ByteReader from(in, 2);
    EXPECT_EQ(from.U8(), 3);
    EXPECT_TRUE(from.AtEnd());
    ByteReader beyond(in, 4);
    EXPECT_EQ(beyond.U8(), 0u);
    EXPECT_FALSE(beyond.Ok());

    const std::vector<uint8_t> padded = {5, 0, 1, 0};
    ByteReader p(padded);
    p.U8();
    p.ZeroPadding();
    EXPECT_FALSE(p.Ok()) << "padding must be zero bytes";
}
