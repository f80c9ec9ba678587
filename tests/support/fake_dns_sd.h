// A DNS-SD service of our own behind the same function table as dnsapi.dll's. Like the platform it
// calls back from threads of its own, hands out record lists and service instances that the
// caller must free, and calls a cancelled browse back once more with ERROR_CANCELLED after its
// last result. A resolve calls back exactly once: its completion, or ERROR_CANCELLED with no
// instance when cancelled first. It checks what the caller does with all of it: every handle
// it is given back, every block freed once, freed memory poisoned and kept to spot late writes.
// One instance at a time (the table's plain functions reach the live one).
#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "transport/dns_sd_win.h"

namespace fakedns {

// What a resolve of one instance name does.
struct Answer {
  // Reply: completes with this instance; Empty: completes with no instance (ERROR_TIMEOUT);
  // Hold: stays pending until completeHeld or a cancel; Refuse: fails to start.
  enum class Mode { Reply, Empty, Hold, Refuse };
  Mode mode = Mode::Reply;
  std::optional<std::wstring> instanceName;  // none: the instance carries no name
  std::optional<std::array<std::uint8_t, 4>> ip4;
  bool ip6 = false;
  std::uint16_t port = 0;
};

// An answer with `name` (null: none) at ip:port.
inline Answer reply(const wchar_t* name, std::array<std::uint8_t, 4> ip, std::uint16_t port = 5555,
                    Answer::Mode mode = Answer::Mode::Reply) {
  Answer answer;
  answer.mode = mode;
  if (name) answer.instanceName = name;
  answer.ip4 = ip;
  answer.port = port;
  return answer;
}

// One record of a browse result.
struct Record {
  WORD type = DNS_TYPE_PTR;
  std::optional<std::wstring> target;  // PTR target (the instance name); none: no name at all
  DWORD ttl = 120;                     // 0: a goodbye, the instance is leaving
};

struct Counts {
  int browses = 0;
  int browseCancels = 0;
  int resolves = 0;
  int resolveCancels = 0;
  int cancelsAfterCompletion = 0;  // the completion had already returned to the caller
  int repeatedCancels = 0;         // the same query cancelled twice
  int badHandles = 0;              // a cancel handle we never gave out
  int badRequests = 0;             // wrong version, interface or missing callback
  int listsMade = 0;
  int listsFreed = 0;
  int instancesMade = 0;
  int instancesFreed = 0;
  int doubleFrees = 0;
  int foreignFrees = 0;    // a pointer we never handed out
  int wrongFreeType = 0;   // a record list not freed as a record list
  int poisonTouched = 0;   // freed blocks written to afterwards
  int pendingQueries = 0;  // queries that have not called back their last time yet
  std::vector<std::wstring> browsedNames;
  std::vector<std::wstring> resolvedNames;
};

class FakeDnsSd {
 public:
  FakeDnsSd();
  ~FakeDnsSd();  // drains, then frees everything it still holds
  FakeDnsSd(const FakeDnsSd&) = delete;
  FakeDnsSd& operator=(const FakeDnsSd&) = delete;

  const transport::DnsSdFunctions& functions() const { return functions_; }

  // Behaviour; set before the calls it affects.
  DNS_STATUS browseResult = transport::kDnsRequestPending;
  bool cancelCallsBackInline = false;     // the cancel's callback runs inside the cancel call
  bool replyBeforeResolveReturns = false;  // replies run inside DnsServiceResolve
  int jitterMicroseconds = 0;              // up to this long a pause before each callback
  // Successive resolves of `instanceName` take the answers in turn, the last one repeating.
  // A name without answers completes Empty.
  void setAnswers(const std::wstring& instanceName, std::vector<Answer> answers);
  void setAnswer(const std::wstring& instanceName, Answer answer) { setAnswers(instanceName, {answer}); }

  // Calls the pending browse back from a new thread with a record list built from `records`
  // (an empty one gives a null list). Ignored once the browse has ended.
  void deliverBrowse(std::vector<Record> records, DWORD status = ERROR_SUCCESS);
  // Completes the held resolves of `instanceName` from a new thread, with its answer.
  void completeHeld(const std::wstring& instanceName);
  // Waits for every thread of ours to end (they end on their own; the caller's hangs would hang here).
  void drain();

  Counts counts();

  // The table's entry points.
  DNS_STATUS browse(PDNS_SERVICE_BROWSE_REQUEST request, PDNS_SERVICE_CANCEL cancel);
  DNS_STATUS browseCancel(PDNS_SERVICE_CANCEL cancel);
  DNS_STATUS resolve(PDNS_SERVICE_RESOLVE_REQUEST request, PDNS_SERVICE_CANCEL cancel);
  DNS_STATUS resolveCancel(PDNS_SERVICE_CANCEL cancel);
  void freeInstance(PDNS_SERVICE_INSTANCE instance);
  void dnsFree(PVOID data, DNS_FREE_TYPE type);

 private:
  struct Query {
    bool isBrowse = false;
    std::wstring name;
    Answer answer;
    PDNS_SERVICE_BROWSE_CALLBACK browseCallback = nullptr;
    PDNS_SERVICE_RESOLVE_COMPLETE resolveCallback = nullptr;
    void* context = nullptr;
    int inFlight = 0;       // result callbacks under way (browse)
    bool cancelled = false;
    bool ended = false;     // the last callback is claimed; nothing else may call back
    bool returned = false;  // the last callback has returned
  };
  struct Block {
    std::unique_ptr<std::max_align_t[]> memory;
    std::size_t size = 0;
    bool isList = false;
    bool freed = false;
  };

  void spawn(std::function<void()> work);
  void pause();
  Query* findQuery(const DNS_SERVICE_CANCEL* cancel);  // under mutex_
  // Version 1, interface 0, a name and a callback, under mutex_; counts a malformed request.
  template <class Request>
  bool wellFormed(const Request* request, PDNS_SERVICE_CANCEL cancel, bool hasCallback);
  // A cancel's count and checks, under mutex_: the query, marked cancelled, or null when the
  // handle is not one of ours of that kind or the query's last callback has already returned.
  Query* markCancelled(PDNS_SERVICE_CANCEL cancel, bool browse);
  unsigned char* allocate(std::size_t size, bool isList);  // under mutex_, as are the next two
  PDNS_RECORD makeList(const std::vector<Record>& records);
  PDNS_SERVICE_INSTANCE makeInstance(const Answer& answer);
  void finish(Query* query, DWORD status, bool withInstance);
  void releaseBlock(void* data, bool isList, DNS_FREE_TYPE type);

  transport::DnsSdFunctions functions_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::map<std::wstring, std::vector<Answer>> answers_;
  std::map<std::wstring, std::size_t> answersUsed_;
  std::vector<std::unique_ptr<Query>> queries_;  // kept to the end, so late handles are recognised
  Query* browse_ = nullptr;
  std::map<const void*, Block> blocks_;
  std::vector<std::thread> threads_;
  unsigned jitterSeed_ = 12345;
  Counts counts_;
};

// Whatever the caller did, once it has stopped and the fake has drained: every block freed
// exactly once and left alone afterwards, every handle one we gave out, every query called back
// its last time, no completed resolve cancelled.
void expectCleanUse(const Counts& counts);

}  // namespace fakedns
