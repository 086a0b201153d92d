#include "engine/KwProxyData.h"

#include <gtest/gtest.h>

namespace vantrel::engine {
namespace {

class ProxyDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    data.OnChange = [this](TKwProxyData* sender) {
      EXPECT_EQ(sender, &data);
      ++changes;
    };
  }
  TKwProxyData data{8080};
  int changes = 0;
};

TEST_F(ProxyDataTest, OnlyRealChangesFire) {
  data.SetPort(8080);
  data.SetAddress("");
  data.SetUsername("");
  data.SetPassword("");
  EXPECT_EQ(changes, 0);

  data.SetPort(1080);
  data.SetAddress("proxy.lan");
  data.SetUsername("u");
  data.SetPassword("p");
  EXPECT_EQ(changes, 4);

  data.SetAddress("proxy.lan");
  data.SetPort(1080);
  EXPECT_EQ(changes, 4);
}

TEST_F(ProxyDataTest, LetterCaseIsAChange) {
  data.SetAddress("proxy.lan");
  data.SetAddress("Proxy.LAN");
  data.SetUsername("bob");
  data.SetUsername("Bob");
  data.SetPassword("pw");
  data.SetPassword("PW");
  EXPECT_EQ(changes, 6);
  EXPECT_EQ(data.Address(), "Proxy.LAN");
}

TEST_F(ProxyDataTest, AssignCopiesValuesQuietlyAndKeepsHandlers) {
  int sourceChanges = 0;
  TKwProxyData source(3128);
  source.SetAddress("10.0.0.1");
  source.SetUsername("user");
  source.SetPassword("secret");
  source.OnChange = [&](TKwProxyData*) { ++sourceChanges; };

  data.Assign(source);
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(data.Address(), "10.0.0.1");
  EXPECT_EQ(data.Port(), 3128);
  EXPECT_EQ(data.Username(), "user");
  EXPECT_EQ(data.Password(), "secret");

  // The target kept its own handler and the source's was not copied.
  data.SetPort(1);
  EXPECT_EQ(changes, 1);
  EXPECT_EQ(sourceChanges, 0);
}

TEST(ProxyTypes, SetOperationsInOneByte) {
  TKwProxyTypes types{ptHTTP, ptTCPTunnel};
  EXPECT_TRUE(types.contains(ptHTTP));
  EXPECT_TRUE(types.contains(ptTCPTunnel));
  types.erase(ptHTTP);
  EXPECT_FALSE(types.contains(ptHTTP));
  EXPECT_TRUE(types.contains(ptTCPTunnel));
  types.erase(ptTCPTunnel);
  EXPECT_TRUE(types.empty());
  EXPECT_EQ(types, TKwProxyTypes{});
  types.insert(ptTCPTunnel);
  EXPECT_EQ(types, TKwProxyTypes{ptTCPTunnel});
  EXPECT_NE(types, (TKwProxyTypes{ptHTTP, ptTCPTunnel}));
}

}  // namespace
}  // namespace vantrel::engine
