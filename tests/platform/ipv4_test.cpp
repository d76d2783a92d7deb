// The canonical dotted form of an address that the address check accepts.
#include <gtest/gtest.h>

#include "platform/ipv4.h"

TEST(Ipv4Dotted, ForwardsTheFourConvertedValues) {
  EXPECT_EQ(ipv4::dotted("192.168.011.045"), "192.168.11.45");
  EXPECT_EQ(ipv4::dotted("127.000.000.001"), "127.0.0.1");
  EXPECT_EQ(ipv4::dotted(" 127.0.0.1"), "127.0.0.1");
  EXPECT_EQ(ipv4::dotted("127.0.0.01"), "127.0.0.1");
  EXPECT_EQ(ipv4::dotted("$7F.0.0.1"), "127.0.0.1");
  EXPECT_EQ(ipv4::dotted("0x7F.0.0.1"), "127.0.0.1");
  EXPECT_EQ(ipv4::dotted("+127.0.0.1"), "127.0.0.1");
}

TEST(Ipv4Dotted, RefusesWhatTheCheckRefuses) {
  for (const char* bad : {"", "1.2.3", "1.2.3.4.5", "256.0.0.1", "-1.0.0.1", "127.0.0.1 ",
                          "1..2.3", "a.b.c.d", "1.2.3.$100"})
    EXPECT_FALSE(ipv4::dotted(bad).has_value()) << bad;
}
