// The listening port's allow-list and the host:port texts, IPv4 and IPv6.
#include <gtest/gtest.h>

#include "comms/addressfilter.h"

namespace {
TNetAddress Address(const char* text) { return *TNetAddress::Parse(text); }

// Whether the filter takes each caller as expected.
void ExpectAllows(const TAddressFilter& filter, std::initializer_list<std::pair<const char*, bool>> callers) {
  for (const auto& [caller, allowed] : callers) EXPECT_EQ(filter.Allows(Address(caller)), allowed) << caller;
}

TAddressFilter Filter(const char* text) {
  TAddressFilter filter;
  std::string error;
  EXPECT_TRUE(filter.Parse(text, error)) << error;
  return filter;
}
}  // namespace

TEST(AddressFilter, AnEmptyListTakesEveryCaller) {
  ExpectAllows(TAddressFilter(), {{"203.0.113.9", true}, {"2001:db8::1", true}});
}

TEST(AddressFilter, Ipv4NetworksEndExactlyAtTheirPrefix) {
  ExpectAllows(Filter("10.1.0.0/16, 192.168.7.128/25;198.51.100.7"),
               {{"10.1.0.0", true}, {"10.1.255.255", true}, {"10.2.0.0", false}, {"10.0.255.255", false},
                {"192.168.7.128", true}, {"192.168.7.255", true}, {"192.168.7.127", false},
                {"198.51.100.7", true}, {"198.51.100.6", false}});
}

TEST(AddressFilter, Ipv6NetworksOnAndOffByteBoundaries) {
  ExpectAllows(Filter("2001:db8::/32 fd00:0:0:8000::/49 ::1"),
               {{"2001:db8:ffff::1", true}, {"2001:db9::1", false}, {"fd00:0:0:8000::5", true},
                {"fd00:0:0:ffff::5", true}, {"fd00:0:0:7fff::5", false}, {"::1", true}, {"::2", false}});
}

TEST(AddressFilter, FamiliesDoNotMixButMappedAddressesAreIpv4) {
  const TAddressFilter v4 = Filter("0.0.0.0/0");
  EXPECT_TRUE(v4.Allows(Address("203.0.113.9")));
  EXPECT_FALSE(v4.Allows(Address("2001:db8::1")));
  // A dual-stack listener sees IPv4 callers as ::ffff:a.b.c.d.
  EXPECT_TRUE(Filter("127.0.0.0/8").Allows(Address("::ffff:127.0.0.1")));
  EXPECT_FALSE(Filter("::/0").Allows(Address("::ffff:127.0.0.1")));
  EXPECT_EQ(Address("::ffff:127.0.0.1").Text(), "127.0.0.1");
}

TEST(AddressFilter, BadItemsAreRefusedAndLeaveTheListAsItWas) {
  TAddressFilter filter = Filter("10.0.0.0/8");
  std::string error;
  for (const char* bad : {"10.1.2.3/16", "10.0.0.0/33", "2001:db8::/129", "example.org", "10.0.0.0/", "10.0.0.0/x",
                          "10.1", "300.1.1.1", "[::1"}) {
    error.clear();
    EXPECT_FALSE(filter.Parse(std::string("192.168.0.0/16 ") + bad, error)) << bad;
    EXPECT_NE(error.find(bad), std::string::npos) << error;
    EXPECT_EQ(filter.Text(), "10.0.0.0/8") << bad;
  }
}

TEST(AddressFilter, TheListReadsBackAsItIsParsed) {
  const TAddressFilter filter = Filter(" 10.0.0.0/8,,[::1]  2001:DB8::/32\n127.0.0.1/32 ");
  EXPECT_EQ(filter.Text(), "10.0.0.0/8 ::1 2001:db8::/32 127.0.0.1");
  EXPECT_EQ(Filter(filter.Text().c_str()).Text(), filter.Text());
}

TEST(HostPort, HostsWithAndWithoutPortsIpv6InBrackets) {
  const auto split = [](const char* text) {
    const THostPort h = SplitHostPort(text);
    return h.Host + "|" + h.Port;
  };
  // A bare IPv6 address carries no port.
  const std::pair<const char*, const char*> splits[] = {
      {"exchange", "exchange|"}, {" exchange : 2323 ", "exchange|2323"}, {"[::1]:23", "::1|23"},
      {"[fe80::1%eth0]", "fe80::1%eth0|"}, {"2001:db8::5", "2001:db8::5|"}, {"10.0.0.1:", "10.0.0.1|"}};
  for (const auto& [text, parts] : splits) EXPECT_EQ(split(text), parts) << text;
  EXPECT_EQ(JoinHostPort("::1", "23"), "[::1]:23");
  EXPECT_EQ(JoinHostPort("exchange", "23"), "exchange:23");
  EXPECT_EQ(JoinHostPort("exchange", ""), "exchange");
}
