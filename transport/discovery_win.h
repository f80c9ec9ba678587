// Finds phones on the local network: browses DNS-SD for "_brindlevideo._tcp", resolves every
// instance it hears of and keeps a list of them: one entry per instance, following its latest
// IPv4 address and port (an address and port belong to one entry), gone once it says goodbye.
// Any host can announce names, so the list holds the newest 64 phones, the newest 64 goodbyes
// are remembered and at most 64 resolves are pending (the oldest is cancelled); each bound
// reached is logged once. The platform calls back on its own threads; the list is read with a
// copy. Windows only, and only from Windows 10 version 1903 on: elsewhere `start` logs the
// failure and returns false.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace transport {

struct DnsSdFunctions;

struct DiscoveredHost {
  std::string name;        // instance name up to its first ".", UTF-8; empty if the instance had none
  std::string ip;          // dotted IPv4, never empty
  std::uint16_t port = 0;  // as resolved

  bool operator==(const DiscoveredHost&) const = default;
};

class Discovery {
 public:
  Discovery();  // the system's DNS-SD functions
  explicit Discovery(const DnsSdFunctions& functions);  // another service's; must outlive this object
  ~Discovery();  // stops
  Discovery(const Discovery&) = delete;
  Discovery& operator=(const Discovery&) = delete;

  // Begins browsing; true if a browse is pending afterwards. While one is pending, does nothing.
  bool start();
  // Cancels the browse and the resolves still pending, and drops the list. Never throws. Callbacks
  // already under way finish first: the state they use goes away after the last of them.
  void stop();
  // A copy of the list in the order first found; empty before `start` and after `stop`.
  std::vector<DiscoveredHost> hosts() const;

  struct State;  // shared with the platform's callbacks; defined in discovery.cpp

 private:
  struct StateRelease {
    void operator()(State* state) const;
  };

  const DnsSdFunctions* functions_;               // null: the system's
  std::unique_ptr<State, StateRelease> state_;  // holds one reference; empty until the first start
};

}  // namespace transport
