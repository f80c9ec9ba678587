// `stop` racing with browse results, replies and cancel callbacks that arrive on the DNS-SD
// service's own threads, many times over: no crash, no block leaked or freed twice, nothing
// written after it was freed (ours or the service's), no query left without its last callback,
// no cancel for a resolve whose completion has already returned.
#include "transport/discovery_win.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "alloc_guard.h"
#include "support/fake_dns_sd.h"
#include "transport/dns_sd_win.h"

namespace {

using fakedns::Answer;
using fakedns::Record;
using fakedns::reply;

struct Totals {
  int iterations = 0;
  int hostsSeen = 0;
};

// One round with its own service: several browse results in flight, `stop` at a varying moment.
void runRound(int round, Totals& totals) {
  SCOPED_TRACE("round " + std::to_string(round));
  fakedns::FakeDnsSd fake;
  fake.cancelCallsBackInline = round % 2 == 1;
  fake.replyBeforeResolveReturns = round % 3 == 2;
  fake.jitterMicroseconds = (round % 4) * 150;

  Answer ip6Only = reply(L"Six", {127, 0, 0, 0});
  ip6Only.ip4.reset();
  ip6Only.ip6 = true;
  fake.setAnswer(L"A", reply(L"A._brindlevideo._tcp.local", {127, 0, 0, 1}));
  fake.setAnswer(L"B", reply(L"B._brindlevideo._tcp.local", {127, 0, 0, 2}));
  fake.setAnswer(L"B2", reply(L"B._brindlevideo._tcp.local", {127, 0, 0, 2}));  // same address and port as B
  fake.setAnswer(L"Held1", reply(L"Held1", {127, 0, 0, 3}, 5555, Answer::Mode::Hold));
  fake.setAnswer(L"Held2", reply(L"Held2", {127, 0, 0, 4}, 5555, Answer::Mode::Hold));
  fake.setAnswer(L"Six", ip6Only);
  fake.setAnswer(L"No", reply(L"No", {127, 0, 0, 5}, 5555, Answer::Mode::Refuse));
  const std::vector<Record> result = {Record{DNS_TYPE_PTR, L"A"},  Record{DNS_TYPE_PTR, L"Held1"},
                                      Record{DNS_TYPE_A, L"A"},    Record{DNS_TYPE_PTR, L"B"},
                                      Record{DNS_TYPE_PTR, L"Six"}, Record{DNS_TYPE_PTR, L"No"},
                                      Record{DNS_TYPE_PTR, L"Held2"}, Record{DNS_TYPE_PTR, L"B2"},
                                      Record{DNS_TYPE_PTR, L"Silent"}};
  {
    transport::Discovery discovery(fake.functions());
    ASSERT_TRUE(discovery.start());
    int results = 1 + round % 4;
    for (int i = 0; i < results; ++i) fake.deliverBrowse(result);
    for (int i = 0; i < (round % 5) * 300; ++i) totals.hostsSeen += static_cast<int>(discovery.hosts().size() > 0);
    discovery.stop();
    EXPECT_TRUE(discovery.hosts().empty());
    if (round % 7 == 0) {  // and once more on the same object, stopped at once
      ASSERT_TRUE(discovery.start());
      fake.deliverBrowse(result);
      discovery.stop();
    }
  }
  fake.drain();

  fakedns::expectCleanUse(fake.counts());
  totals.iterations++;
}

TEST(DiscoveryRace, StopWhileCallbacksArrive) {
  constexpr int kRounds = 400;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  Totals totals;
  runRound(0, totals);  // first use of anything lazily allocated happens outside the count
  std::size_t before = allocguard::liveBlocks();
  for (int round = 1; round < kRounds && std::chrono::steady_clock::now() < deadline; ++round) {
    runRound(round, totals);
    if (::testing::Test::HasFailure()) break;
  }
  EXPECT_EQ(allocguard::liveBlocks(), before) << "blocks leaked: state or resolve contexts outlived every callback";
  EXPECT_EQ(allocguard::flushAndCountTouched(), 0u) << "freed blocks written to";
  EXPECT_EQ(allocguard::doubleDeletes(), 0u);
  EXPECT_GE(totals.iterations, 50);
  std::printf("rounds %d, polls that saw hosts %d\n", totals.iterations, totals.hostsSeen);
}

}  // namespace
