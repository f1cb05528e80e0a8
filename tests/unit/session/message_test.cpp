// Message fields and GUID text: what peers rely on to read each other's bodies.
#include "platform/session/session.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using session::Guid;
using session::Message;
using session::MessageReadError;

TEST(Message, FieldsRoundTripInOrderWithFixedLittleEndianLayout) {
    Message m;
    m.WriteLong(1);
    m.WriteLong(-2);
    m.WriteLong(std::numeric_limits<int32_t>::min());
    m.WriteDouble(-0.125);
    m.WriteDouble(std::numeric_limits<double>::infinity());
    m.WriteByte(255);
    m.WriteString("This FUCKING Bob kill ME !!!");
    m.WriteString("");
    // A STATE body of 12 Longs and 10 Doubles is 128 bytes: no padding, no framing.
    EXPECT_EQ(m.Size(), 4u * 3 + 8 * 2 + 1 + (4 + 28) + 4);
    const std::vector<uint8_t>& b = m.Body();
    EXPECT_EQ(b[0], 1);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(b[4], 0xFE); // -2 little-endian
    EXPECT_EQ(b[7], 0xFF);

    Message r(m.Body());
    EXPECT_EQ(r.ReadLong(), 1);
    EXPECT_EQ(r.ReadLong(), -2);
    EXPECT_EQ(r.ReadLong(), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(r.ReadDouble(), -0.125);
    EXPECT_TRUE(std::isinf(r.ReadDouble()));
    EXPECT_EQ(r.ReadByte(), 255);
    EXPECT_EQ(r.ReadString(), "This FUCKING Bob kill ME !!!");
    EXPECT_EQ(r.ReadString(), "");
    EXPECT_EQ(r.Remaining(), 0u);
}

TEST(Message, ReadsNeverPassTheEnd) {
    Message m;
    m.WriteByte(7);
    m.WriteByte(8);
    m.WriteByte(9);
    Message r(m.Body());
    EXPECT_THROW(r.ReadLong(), MessageReadError);
    EXPECT_EQ(r.ReadPosition(), 0u) << "a failed read consumes nothing";
    EXPECT_EQ(r.ReadByte(), 7);
    EXPECT_THROW(r.ReadDouble(), MessageReadError);

    // String lengths that are negative, beyond the body or beyond the bound are refused.
    for (int32_t len :
         {-1, 5, std::numeric_limits<int32_t>::max(), int32_t(Message::kMaxStringBytes + 1)}) {
        Message s;
        s.WriteLong(len);
        s.WriteByte('a');
        s.WriteByte('b');
        Message rs(s.Body());
        EXPECT_THROW(rs.ReadString(), MessageReadError) << len;
        EXPECT_EQ(rs.ReadLong(), len) << "the bad string is not consumed";
    }
    Message empty;
    EXPECT_THROW(empty.ReadByte(), MessageReadError);
}

TEST(Message, OversizedBodiesAreMarkedInvalidAndStringsBounded) {
    Message m;
    const std::string big(Message::kMaxStringBytes + 100, 'x');
    m.WriteString(big);
    EXPECT_EQ(m.Size(), 4 + Message::kMaxStringBytes) << "long strings are cut to the bound";
    EXPECT_TRUE(m.Valid());
    for (int i = 0; i < 10; ++i)
        m.WriteString(big);
    EXPECT_FALSE(m.Valid());
    EXPECT_LE(m.Size(), Message::kMaxBytes);
    m.Clear();
    EXPECT_TRUE(m.Valid());
    EXPECT_EQ(m.Size(), 0u);
}

TEST(Guid, ParsesBracedAndBareFormsAndRejectsMalformedText) {
    const auto g = Guid::Parse("{AC330441-9B71-11D2-9AAB-0020781461AC}");
    ASSERT_TRUE(g);
    EXPECT_EQ(g->bytes[0], 0xAC);
    EXPECT_EQ(g->bytes[15], 0xAC);
    EXPECT_EQ(g->ToString(), "{AC330441-9B71-11D2-9AAB-0020781461AC}");
    EXPECT_EQ(Guid::Parse("ac330441-9b71-11d2-9aab-0020781461ac"), g);
    EXPECT_FALSE(g->IsNull());
    EXPECT_TRUE(Guid{}.IsNull());
    for (const char* bad :
         {"", "{}", "{AC330441-9B71-11D2-9AAB-0020781461A}",
          "{AC330441-9B71-11D2-9AAB-0020781461AG}", "{AC3304419-B71-11D2-9AAB-0020781461AC}",
          "AC330441-9B71-11D2-9AAB-0020781461AC}"})
        EXPECT_FALSE(Guid::Parse(bad)) << bad;
}
