// Discovery against a DNS-SD service of our own (what reaches the list, what is resolved, what is
// freed and cancelled), and against Wine's real dnsapi.dll, which lacks the DNS-SD functions.
#include "transport/discovery_win.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "support/fake_dns_sd.h"
#include "support/log_capture.h"
#include "transport/dns_sd_win.h"

void PrintTo(const transport::DiscoveredHost& host, std::ostream* out) {
  *out << "{" << host.name << ", " << host.ip << ", " << host.port << "}";
}

namespace {

using fakedns::Answer;
using fakedns::Record;
using fakedns::reply;

constexpr std::uint16_t kPort = 5555;

Record ptr(const std::wstring& target) { return Record{DNS_TYPE_PTR, target}; }

class DiscoveryTest : public ::testing::Test {
 protected:
  // Delivers one browse result and waits for it and every resolve it started to call back.
  void announce(std::vector<Record> records) {
    fake.deliverBrowse(std::move(records));
    fake.drain();
  }

  std::vector<std::string> discoveryLines() { return log.linesStartingWith("[Discovery]"); }

  // Whatever a test did, once it has stopped: every block freed exactly once and left alone
  // afterwards, every handle one we gave out, every query called back its last time.
  void TearDown() override {
    fake.drain();
    fakedns::expectCleanUse(fake.counts());
  }

  fakedns::FakeDnsSd fake;
  testsupport::LogCapture log;
};

TEST_F(DiscoveryTest, NamesAreCutAtTheFirstDotAndKeptInUtf8) {
  fake.setAnswer(L"Kitchen Phone._brindlevideo._tcp.local", reply(L"Kitchen Phone._brindlevideo._tcp.local", {127, 1, 2, 3}));
  fake.setAnswer(L"Anna.s iPhone._brindlevideo._tcp.local", reply(L"Anna.s iPhone._brindlevideo._tcp.local", {127, 0, 0, 2}));
  fake.setAnswer(L"Solo", reply(L"Solo", {127, 0, 0, 3}));
  fake.setAnswer(L"K\u00fcche \u624b\u673a._brindlevideo._tcp.local",
                 reply(L"K\u00fcche \u624b\u673a._brindlevideo._tcp.local", {127, 0, 0, 4}));
  fake.setAnswer(L"nameless._brindlevideo._tcp.local", reply(nullptr, {127, 0, 0, 5}, 6000));
  fake.setAnswer(L"._brindlevideo._tcp.local", reply(L"._brindlevideo._tcp.local", {127, 0, 0, 6}));

  transport::Discovery discovery(fake.functions());
  ASSERT_TRUE(discovery.start());
  // One at a time, so the list's order is known.
  announce({ptr(L"Kitchen Phone._brindlevideo._tcp.local")});
  announce({ptr(L"Anna.s iPhone._brindlevideo._tcp.local")});
  announce({ptr(L"Solo")});
  announce({ptr(L"K\u00fcche \u624b\u673a._brindlevideo._tcp.local")});
  announce({ptr(L"nameless._brindlevideo._tcp.local")});
  announce({ptr(L"._brindlevideo._tcp.local")});

  std::vector<transport::DiscoveredHost> expected = {
      {"Kitchen Phone", "127.1.2.3", kPort},
      {"Anna", "127.0.0.2", kPort},
      {"Solo", "127.0.0.3", kPort},
      {"K\xc3\xbc" "che \xe6\x89\x8b\xe6\x9c\xba", "127.0.0.4", kPort},
      {"", "127.0.0.5", 6000},
      {"", "127.0.0.6", kPort},
  };
  EXPECT_EQ(discovery.hosts(), expected);
  std::vector<std::string> lines = discoveryLines();
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_EQ(lines[0], "[Discovery] browsing for _brindlevideo._tcp\n");
  EXPECT_EQ(lines[1], "[Discovery] Kitchen Phone @ 127.1.2.3:5555\n");
  EXPECT_EQ(lines[5], "[Discovery]  @ 127.0.0.5:6000\n");
  discovery.stop();
}

// Answers for one instance, however many and however its name is cased, make one entry, which
// follows the phone to a new address or port in its place; an address and port belong to
// whichever instance announced them last.
TEST_F(DiscoveryTest, OneEntryPerInstanceFollowingItsAddress) {
  const std::wstring phone = L"Desk Phone._brindlevideo._tcp.local";
  const std::wstring other = L"Other Phone._brindlevideo._tcp.local";
  const std::wstring renamed = L"Renamed._brindlevideo._tcp.local";
  fake.setAnswers(phone, {reply(phone.c_str(), {127, 0, 0, 10}),       // two answers alike
                          reply(phone.c_str(), {127, 0, 0, 10}),
                          reply(phone.c_str(), {127, 0, 0, 11}),       // a new address
                          reply(phone.c_str(), {127, 0, 0, 11}, 5556)});  // a new port
  fake.setAnswer(L"desk phone._brindlevideo._tcp.local", reply(phone.c_str(), {127, 0, 0, 11}, 5556));
  fake.setAnswer(other, reply(other.c_str(), {127, 0, 0, 20}));
  fake.setAnswer(renamed, reply(renamed.c_str(), {127, 0, 0, 20}));

  transport::Discovery discovery(fake.functions());
  ASSERT_TRUE(discovery.start());
  announce({ptr(phone), ptr(phone)});  // two PTR answers for one phone
  announce({ptr(other)});
  EXPECT_EQ(discovery.hosts(), (std::vector<transport::DiscoveredHost>{{"Desk Phone", "127.0.0.10", kPort},
                                                                       {"Other Phone", "127.0.0.20", kPort}}));
  announce({ptr(phone)});
  EXPECT_EQ(discovery.hosts().front(), (transport::DiscoveredHost{"Desk Phone", "127.0.0.11", kPort}));
  announce({ptr(phone)});
  announce({ptr(L"desk phone._brindlevideo._tcp.local")});  // the same instance
  announce({ptr(renamed)});  // takes Other Phone's address and port

  std::vector<transport::DiscoveredHost> expected = {{"Desk Phone", "127.0.0.11", 5556},
                                                     {"Renamed", "127.0.0.20", kPort}};
  EXPECT_EQ(discovery.hosts(), expected);
  EXPECT_EQ(log.count("[Discovery] Desk Phone @ 127.0.0.10:5555"), 1u);
  EXPECT_EQ(log.count("[Discovery] Desk Phone @ 127.0.0.11:5555"), 1u);
  EXPECT_EQ(log.count("[Discovery] Desk Phone @ 127.0.0.11:5556"), 1u);
  EXPECT_EQ(fake.counts().resolves, 7);
  discovery.stop();
}

// A PTR record with TTL 0 is a goodbye: the phone leaves the list without a resolve, a resolve
// still under way does not bring it back, and its next announcement does.
TEST_F(DiscoveryTest, GoodbyeTakesThePhoneOffTheList) {
  const std::wstring leaving = L"Leaving._brindlevideo._tcp.local";
  const std::wstring staying = L"Staying._brindlevideo._tcp.local";
  fake.setAnswers(leaving, {reply(leaving.c_str(), {127, 0, 0, 30}),
                            reply(leaving.c_str(), {127, 0, 0, 30}, kPort, Answer::Mode::Hold),
                            reply(leaving.c_str(), {127, 0, 0, 31})});
  fake.setAnswer(staying, reply(staying.c_str(), {127, 0, 0, 40}));
  const Record goodbye{DNS_TYPE_PTR, leaving, 0};

  transport::Discovery discovery(fake.functions());
  ASSERT_TRUE(discovery.start());
  announce({ptr(leaving), ptr(staying)});
  ASSERT_EQ(discovery.hosts().size(), 2u);
  announce({goodbye, Record{DNS_TYPE_PTR, L"Unknown._brindlevideo._tcp.local", 0}});
  const std::vector<transport::DiscoveredHost> onlyStaying = {{"Staying", "127.0.0.40", kPort}};
  EXPECT_EQ(discovery.hosts(), onlyStaying);
  EXPECT_EQ(log.count("[Discovery] Leaving @ 127.0.0.30:5555 left"), 1u);
  EXPECT_EQ(fake.counts().resolves, 2) << "a goodbye starts no resolve";

  announce({ptr(leaving)});  // resolves, but its answer is held back
  announce({goodbye});
  fake.completeHeld(leaving);
  fake.drain();
  EXPECT_EQ(discovery.hosts(), onlyStaying);

  announce({ptr(leaving)});
  EXPECT_EQ(discovery.hosts(), (std::vector<transport::DiscoveredHost>{{"Staying", "127.0.0.40", kPort},
                                                                       {"Leaving", "127.0.0.31", kPort}}));
  discovery.stop();
}

TEST_F(DiscoveryTest, NoEntryWithoutAnIPv4Address) {
  Answer ip6Only = reply(L"Six._brindlevideo._tcp.local", {0, 0, 0, 0});
  ip6Only.ip4.reset();
  ip6Only.ip6 = true;
  Answer noAddress = reply(L"None._brindlevideo._tcp.local", {0, 0, 0, 0});
  noAddress.ip4.reset();
  Answer refused;
  refused.mode = Answer::Mode::Refuse;
  fake.setAnswer(L"Six._brindlevideo._tcp.local", ip6Only);
  fake.setAnswer(L"None._brindlevideo._tcp.local", noAddress);
  fake.setAnswer(L"Refused._brindlevideo._tcp.local", refused);
  // "Silent" has no answer: its resolve completes without an instance.
  fake.setAnswer(L"Good._brindlevideo._tcp.local", reply(L"Good._brindlevideo._tcp.local", {127, 0, 0, 20}));

  transport::Discovery discovery(fake.functions());
  ASSERT_TRUE(discovery.start());
  announce({ptr(L"Six._brindlevideo._tcp.local"), ptr(L"None._brindlevideo._tcp.local"),
            ptr(L"Refused._brindlevideo._tcp.local"), ptr(L"Silent._brindlevideo._tcp.local")});
  EXPECT_TRUE(discovery.hosts().empty());
  EXPECT_EQ(discoveryLines().size(), 1u);  // only "browsing": these are skipped silently
  EXPECT_EQ(fake.counts().instancesMade, 2);

  announce({ptr(L"Good._brindlevideo._tcp.local")});
  std::vector<transport::DiscoveredHost> expected = {{"Good", "127.0.0.20", kPort}};
  EXPECT_EQ(discovery.hosts(), expected);
  discovery.stop();
}

TEST_F(DiscoveryTest, OnlyPtrRecordsWithATargetAreResolved) {
  transport::Discovery discovery(fake.functions());
  ASSERT_TRUE(discovery.start());
  announce({Record{DNS_TYPE_A, L"a.local"}, Record{DNS_TYPE_SRV, L"srv.local"}, Record{DNS_TYPE_TEXT, L"txt.local"},
            Record{DNS_TYPE_AAAA, L"aaaa.local"}, Record{DNS_TYPE_PTR, std::nullopt}, Record{DNS_TYPE_PTR, L""},
            ptr(L"Real._brindlevideo._tcp.local")});
  announce({});  // a null list: nothing to resolve, nothing to free

  fakedns::Counts counts = fake.counts();
  EXPECT_EQ(counts.resolvedNames, std::vector<std::wstring>{L"Real._brindlevideo._tcp.local"});
  EXPECT_EQ(counts.listsMade, 1);
  discovery.stop();
}

TEST_F(DiscoveryTest, StartsOnceAndHoldsNothingOutsideStartAndStop) {
  transport::Discovery discovery(fake.functions());
  EXPECT_TRUE(discovery.hosts().empty());
  discovery.stop();  // never started: nothing to do

  fake.setAnswer(L"A._brindlevideo._tcp.local", reply(L"A", {127, 0, 0, 30}));
  ASSERT_TRUE(discovery.start());
  EXPECT_TRUE(discovery.start());  // already browsing
  EXPECT_EQ(fake.counts().browses, 1);
  EXPECT_EQ(fake.counts().browsedNames, std::vector<std::wstring>{L"_brindlevideo._tcp.local"});
  EXPECT_EQ(log.count("[Discovery] browsing for _brindlevideo._tcp\n"), 1u);
  announce({ptr(L"A._brindlevideo._tcp.local")});
  EXPECT_EQ(discovery.hosts().size(), 1u);

  discovery.stop();
  EXPECT_TRUE(discovery.hosts().empty());
  EXPECT_EQ(fake.counts().browseCancels, 1);
  discovery.stop();
  EXPECT_EQ(fake.counts().browseCancels, 1);

  // A fresh start browses anew with an empty list.
  ASSERT_TRUE(discovery.start());
  EXPECT_EQ(fake.counts().browses, 2);
  EXPECT_TRUE(discovery.hosts().empty());
  announce({ptr(L"A._brindlevideo._tcp.local")});
  EXPECT_EQ(discovery.hosts().size(), 1u);
}  // the destructor stops; TearDown checks that it cancelled

TEST_F(DiscoveryTest, BrowseThatDoesNotStartIsLoggedAndCanBeRetried) {
  fake.browseResult = ERROR_ACCESS_DENIED;
  transport::Discovery discovery(fake.functions());
  EXPECT_FALSE(discovery.start());
  EXPECT_EQ(discoveryLines(), std::vector<std::string>{"[Discovery] DnsServiceBrowse failed rc=5\n"});
  EXPECT_TRUE(discovery.hosts().empty());

  fake.browseResult = transport::kDnsRequestPending;
  EXPECT_TRUE(discovery.start());
  EXPECT_EQ(fake.counts().browses, 2);
  discovery.stop();

  // A system without the functions at all.
  transport::DnsSdFunctions none;
  transport::Discovery bare(none);
  log.clear();
  EXPECT_FALSE(bare.start());
  EXPECT_EQ(discoveryLines(), std::vector<std::string>{"[Discovery] DnsServiceBrowse failed rc=120\n"});
  bare.stop();
}

TEST_F(DiscoveryTest, StopCancelsOnlyResolvesStillPending) {
  Answer held = reply(L"Held", {127, 0, 0, 41});
  held.mode = Answer::Mode::Hold;
  fake.setAnswer(L"Quick", reply(L"Quick", {127, 0, 0, 40}));
  fake.setAnswer(L"Held", held);
  held.instanceName = L"Late";
  held.ip4 = std::array<std::uint8_t, 4>{127, 0, 0, 42};
  fake.setAnswer(L"Late", held);

  transport::Discovery discovery(fake.functions());
  ASSERT_TRUE(discovery.start());
  announce({ptr(L"Quick"), ptr(L"Held"), ptr(L"Late")});
  fake.completeHeld(L"Held");
  fake.drain();
  EXPECT_EQ(discovery.hosts().size(), 2u);

  discovery.stop();
  fake.drain();
  fakedns::Counts counts = fake.counts();
  EXPECT_EQ(counts.resolveCancels, 1);  // "Late" only; TearDown checks no completed one was cancelled
  EXPECT_EQ(counts.browseCancels, 1);
}

TEST_F(DiscoveryTest, CallbacksInsideThePlatformCallsAreHandled) {
  // Replies from inside DnsServiceResolve, cancels calling back from inside the cancel call.
  fake.replyBeforeResolveReturns = true;
  fake.cancelCallsBackInline = true;
  Answer held = reply(L"Held", {127, 0, 0, 51});
  held.mode = Answer::Mode::Hold;
  fake.setAnswer(L"Quick", reply(L"Quick", {127, 0, 0, 50}));
  fake.setAnswer(L"Held", held);

  transport::Discovery discovery(fake.functions());
  ASSERT_TRUE(discovery.start());
  announce({ptr(L"Quick"), ptr(L"Held")});
  std::vector<transport::DiscoveredHost> expected = {{"Quick", "127.0.0.50", kPort}};
  EXPECT_EQ(discovery.hosts(), expected);
  discovery.stop();
  EXPECT_EQ(fake.counts().resolveCancels, 1);
  EXPECT_EQ(fake.counts().pendingQueries, 0);  // both cancels called back before stop returned
}

// Thousands of names announced by other hosts: the list keeps the newest 64 phones, at most 64
// resolves stay pending (the oldest are cancelled), the newest 64 goodbyes are remembered, and
// each bound reached is logged once.
TEST_F(DiscoveryTest, ThousandsOfNamesKeepEveryListBounded) {
  constexpr int kNames = 2000;
  constexpr std::size_t kBound = 64;
  constexpr int kBatch = 50;  // fewer than the bound, so resolves that answer are never cancelled
  auto name = [](const wchar_t* prefix, int i) { return prefix + std::to_wstring(i) + L"._brindlevideo._tcp.local"; };
  auto address = [](int group, int i) {
    return std::array<std::uint8_t, 4>{127, std::uint8_t(group), std::uint8_t(i >> 8), std::uint8_t(i)};
  };
  // Announces `prefix`0 .. `prefix`kNames-1, kBatch to a browse result (TTL 0: goodbyes).
  auto flood = [&](const wchar_t* prefix, DWORD ttl) {
    for (int first = 0; first < kNames; first += kBatch) {
      std::vector<Record> records;
      for (int i = first; i < first + kBatch; ++i) records.push_back(Record{DNS_TYPE_PTR, name(prefix, i), ttl});
      announce(std::move(records));
    }
  };
  for (int i = 0; i < kNames; ++i) {
    fake.setAnswer(name(L"Phone", i), reply(name(L"Phone", i).c_str(), address(1, i)));
    fake.setAnswer(name(L"Held", i), reply(name(L"Held", i).c_str(), address(2, i), kPort, Answer::Mode::Hold));
  }
  transport::Discovery discovery(fake.functions());
  ASSERT_TRUE(discovery.start());

  flood(L"Phone", 120);
  std::vector<transport::DiscoveredHost> hosts = discovery.hosts();
  ASSERT_EQ(hosts.size(), kBound);
  // The last two results' phones; within a result, resolves complete in any order.
  for (const transport::DiscoveredHost& host : hosts) {
    EXPECT_GE(std::stoi(host.name.substr(5)), kNames - 2 * kBatch) << host.name << " is not among the newest";
  }
  EXPECT_EQ(log.count("[Discovery] 64 phones listed: dropping the oldest\n"), 1u);

  flood(L"Held", 120);  // none answers
  fakedns::Counts counts = fake.counts();
  EXPECT_EQ(counts.pendingQueries, 1 + int(kBound)) << "the browse and the resolves still pending";
  EXPECT_EQ(counts.resolveCancels, kNames - int(kBound));
  EXPECT_EQ(log.count("[Discovery] 64 resolves pending: cancelling the oldest\n"), 1u);

  // Goodbyes for the oldest and the newest pending phone, thousands between them: the newest
  // is still remembered when its answer comes, the oldest forgotten.
  const int oldest = kNames - int(kBound);
  const int newest = kNames - 1;
  announce({Record{DNS_TYPE_PTR, name(L"Held", oldest), 0}});
  flood(L"Gone", 0);
  announce({Record{DNS_TYPE_PTR, name(L"Held", newest), 0}});
  fake.completeHeld(name(L"Held", oldest));
  fake.completeHeld(name(L"Held", newest));
  fake.drain();
  hosts = discovery.hosts();
  EXPECT_EQ(hosts.size(), kBound);
  EXPECT_EQ(hosts.back().name, "Held" + std::to_string(oldest));
  EXPECT_EQ(std::count_if(hosts.begin(), hosts.end(),
                          [&](const transport::DiscoveredHost& h) { return h.name == "Held" + std::to_string(newest); }),
            0);
  EXPECT_EQ(log.count("[Discovery] 64 departed names kept: forgetting the oldest\n"), 1u);
  discovery.stop();
}

// Wine's dnsapi.dll has DnsFree but none of the DNS-SD functions; so has Windows before 10 1903.
TEST(SystemDnsSd, StartFailsCleanlyWithoutTheFunctions) {
  const transport::DnsSdFunctions& system = transport::systemDnsSdFunctions();
  EXPECT_NE(system.dnsFree, nullptr);  // the lookup itself works
  if (system.browse) GTEST_SKIP() << "this system has DNS-SD";
  EXPECT_EQ(system.resolve, nullptr);

  testsupport::LogCapture log;
  transport::Discovery discovery;
  EXPECT_FALSE(discovery.start());
  EXPECT_FALSE(discovery.start());  // no browse pending: every start tries again
  EXPECT_EQ(log.linesStartingWith("[Discovery]"),
            std::vector<std::string>(2, "[Discovery] DnsServiceBrowse failed rc=120\n"));
  EXPECT_TRUE(discovery.hosts().empty());
  discovery.stop();
  EXPECT_TRUE(discovery.hosts().empty());
}

}  // namespace
