#pragma once
// What the two ends of a tunnel do to end it one way at a time, shared by
// the engine's tunnels and the local port tunnels: each script drives a
// client and the far end (the origin) and checks what each received.

#include <gtest/gtest.h>

#include <string>

#include "tests/engine/proxy_harness.h"
#include "tests/support/TestPattern.h"

namespace vantrel::engine::proxytest {

enum class HalfCloseScript {
  ClientEndsAfterItsRequest,      // the whole answer still comes back
  OriginGreetsAndEnds,            // the client's upload still goes through
  OriginEndsWhileClientTrickles,  // every byte both ways, and no reset
};

inline constexpr HalfCloseScript kHalfCloseScripts[] = {
    HalfCloseScript::ClientEndsAfterItsRequest, HalfCloseScript::OriginGreetsAndEnds,
    HalfCloseScript::OriginEndsWhileClientTrickles};

// Runs the script; afterwards both ways have ended.
inline void RunHalfCloseScript(HalfCloseScript script, Peer& client, Peer& far) {
  testsupport::PatternStream pattern(11);
  switch (script) {
    case HalfCloseScript::ClientEndsAfterItsRequest: {
      client.Send("request");
      client.ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return far.Eof(); }));
      EXPECT_EQ(far.In(), "request");
      const std::string reply = pattern.Next(1 << 20);
      far.Send(reply);
      far.ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return client.Eof() || client.WasReset(); }, kLongDeadline));
      EXPECT_FALSE(client.WasReset());
      EXPECT_TRUE(client.In() == reply) << client.In().size() << " bytes of " << reply.size();
      break;
    }
    case HalfCloseScript::OriginGreetsAndEnds: {
      far.Send("hello");
      far.ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return client.Eof(); }));
      EXPECT_EQ(client.In(), "hello");
      const std::string upload = pattern.Next(2 << 20);
      client.Send(upload);
      client.ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return far.Eof() || far.WasReset(); }, kLongDeadline));
      EXPECT_FALSE(far.WasReset());
      EXPECT_TRUE(far.In() == upload) << far.In().size() << " bytes of " << upload.size();
      break;
    }
    case HalfCloseScript::OriginEndsWhileClientTrickles: {
      constexpr size_t kBulk = 4u << 20;
      testsupport::Checksum sent, received;
      size_t sinceTrickle = 0, trickled = 0;
      // One byte back for every 64 KiB read, for as long as the client reads.
      client.OnBytes = [&](std::string_view b) {
        received.Add(b.data(), b.size());
        for (sinceTrickle += b.size(); sinceTrickle >= (64u << 10); sinceTrickle -= 64u << 10) {
          client.Send("t");
          ++trickled;
        }
      };
      const std::string bulk = pattern.Next(kBulk);
      sent.Add(bulk);
      far.Send(bulk);
      far.ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return client.Eof() || client.WasReset(); }, kLongDeadline));
      client.OnBytes = nullptr;
      EXPECT_FALSE(client.WasReset());
      EXPECT_EQ(received.Bytes(), kBulk);
      EXPECT_EQ(received.Value(), sent.Value());
      // Everything the client sent after the origin's end reached it.
      EXPECT_GT(trickled, 0u);
      EXPECT_TRUE(WaitFor([&] { return far.In().size() >= trickled || far.Eof(); }));
      EXPECT_EQ(far.In(), std::string(trickled, 't'));
      client.ShutdownWrite();
      ASSERT_TRUE(WaitFor([&] { return far.Eof() || far.WasReset(); }));
      EXPECT_FALSE(far.WasReset());
      break;
    }
  }
}

inline const char* NameOf(HalfCloseScript script) {
  switch (script) {
    case HalfCloseScript::ClientEndsAfterItsRequest: return "ClientEnds";
    case HalfCloseScript::OriginGreetsAndEnds: return "OriginEnds";
    case HalfCloseScript::OriginEndsWhileClientTrickles: return "Trickle";
  }
  return "";
}

inline void PrintTo(HalfCloseScript script, std::ostream* os) {
  *os << NameOf(script);
}

}  // namespace vantrel::engine::proxytest
