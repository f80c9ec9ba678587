#include "support/fake_dns_sd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <utility>

namespace fakedns {

namespace {

constexpr unsigned char kPoison = 0xDD;
constexpr wchar_t kBrowsedName[] = L"_brindlevideo._tcp.local";
constexpr wchar_t kHostName[] = L"phone.local";

std::atomic<FakeDnsSd*> g_live{nullptr};

DNS_STATUS WINAPI fakeBrowse(PDNS_SERVICE_BROWSE_REQUEST request, PDNS_SERVICE_CANCEL cancel) {
  return g_live.load()->browse(request, cancel);
}
DNS_STATUS WINAPI fakeBrowseCancel(PDNS_SERVICE_CANCEL cancel) { return g_live.load()->browseCancel(cancel); }
DNS_STATUS WINAPI fakeResolve(PDNS_SERVICE_RESOLVE_REQUEST request, PDNS_SERVICE_CANCEL cancel) {
  return g_live.load()->resolve(request, cancel);
}
DNS_STATUS WINAPI fakeResolveCancel(PDNS_SERVICE_CANCEL cancel) { return g_live.load()->resolveCancel(cancel); }
VOID WINAPI fakeFreeInstance(PDNS_SERVICE_INSTANCE instance) { g_live.load()->freeInstance(instance); }
VOID WINAPI fakeDnsFree(PVOID data, DNS_FREE_TYPE type) { g_live.load()->dnsFree(data, type); }

std::size_t roundUp(std::size_t n, std::size_t to) { return (n + to - 1) / to * to; }

}  // namespace

FakeDnsSd::FakeDnsSd() {
  functions_.browse = fakeBrowse;
  functions_.browseCancel = fakeBrowseCancel;
  functions_.resolve = fakeResolve;
  functions_.resolveCancel = fakeResolveCancel;
  functions_.freeInstance = fakeFreeInstance;
  functions_.dnsFree = fakeDnsFree;
  g_live.store(this);
}

FakeDnsSd::~FakeDnsSd() {
  drain();
  g_live.store(nullptr);
}

void FakeDnsSd::setAnswers(const std::wstring& instanceName, std::vector<Answer> answers) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[instanceName] = std::move(answers);
  answersUsed_[instanceName] = 0;
}

void FakeDnsSd::spawn(std::function<void()> work) {
  std::lock_guard<std::mutex> lock(mutex_);
  threads_.emplace_back(std::move(work));
}

void FakeDnsSd::drain() {
  // Threads may start threads (a reply from inside a browse callback); a few rounds collect them.
  for (int round = 0; round < 100; ++round) {
    std::vector<std::thread> threads;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      threads.swap(threads_);
    }
    if (threads.empty()) return;
    for (std::thread& thread : threads) thread.join();
  }
}

void FakeDnsSd::pause() {
  if (jitterMicroseconds <= 0) return;
  unsigned wait;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    jitterSeed_ = jitterSeed_ * 1103515245u + 12345u;
    wait = (jitterSeed_ >> 16) % static_cast<unsigned>(jitterMicroseconds + 1);
  }
  if (wait < 50) {
    std::this_thread::yield();
  } else {
    std::this_thread::sleep_for(std::chrono::microseconds(wait));
  }
}

FakeDnsSd::Query* FakeDnsSd::findQuery(const DNS_SERVICE_CANCEL* cancel) {
  if (!cancel) return nullptr;
  for (const std::unique_ptr<Query>& query : queries_) {
    if (query.get() == cancel->reserved) return query.get();
  }
  return nullptr;
}

unsigned char* FakeDnsSd::allocate(std::size_t size, bool isList) {
  Block block;
  std::size_t units = roundUp(size, sizeof(std::max_align_t)) / sizeof(std::max_align_t);
  block.memory.reset(new std::max_align_t[units]);
  block.size = size;
  block.isList = isList;
  unsigned char* bytes = reinterpret_cast<unsigned char*>(block.memory.get());
  std::memset(bytes, 0, size);
  blocks_[bytes] = std::move(block);
  if (isList) {
    counts_.listsMade++;
  } else {
    counts_.instancesMade++;
  }
  return bytes;
}

PDNS_RECORD FakeDnsSd::makeList(const std::vector<Record>& records) {
  if (records.empty()) return nullptr;
  // One block: the records, then the owner name, then each record's target text.
  std::size_t size = records.size() * sizeof(DNS_RECORDW) + sizeof(kBrowsedName);
  for (const Record& record : records) {
    if (record.target) size += (record.target->size() + 1) * sizeof(wchar_t);
  }
  unsigned char* bytes = allocate(size, true);
  DNS_RECORDW* list = reinterpret_cast<DNS_RECORDW*>(bytes);
  wchar_t* text = reinterpret_cast<wchar_t*>(bytes + records.size() * sizeof(DNS_RECORDW));
  std::memcpy(text, kBrowsedName, sizeof(kBrowsedName));
  wchar_t* owner = text;
  text += sizeof(kBrowsedName) / sizeof(wchar_t);
  for (std::size_t i = 0; i < records.size(); ++i) {
    DNS_RECORDW& record = list[i];
    record.pNext = i + 1 < records.size() ? &list[i + 1] : nullptr;
    record.pName = owner;
    record.wType = records[i].type;
    record.wDataLength = sizeof(DNS_PTR_DATAW);
    record.dwTtl = records[i].ttl;
    // Every record carries its text where a PTR's target sits, so reading any type as PTR shows.
    if (records[i].target) {
      std::size_t chars = records[i].target->size() + 1;
      std::memcpy(text, records[i].target->c_str(), chars * sizeof(wchar_t));
      record.Data.PTR.pNameHost = text;
      text += chars;
    }
  }
  return list;
}

PDNS_SERVICE_INSTANCE FakeDnsSd::makeInstance(const Answer& answer) {
  // One block: the instance, its IPv6 and IPv4 addresses, its host name and instance name.
  std::size_t size = roundUp(sizeof(DNS_SERVICE_INSTANCE), 16);
  std::size_t ip6At = size;
  if (answer.ip6) size += sizeof(IP6_ADDRESS);
  std::size_t ip4At = size;
  if (answer.ip4) size += sizeof(IP4_ADDRESS);
  std::size_t hostAt = size;
  size += sizeof(kHostName);
  std::size_t nameAt = size;
  if (answer.instanceName) size += (answer.instanceName->size() + 1) * sizeof(wchar_t);

  unsigned char* bytes = allocate(size, false);
  DNS_SERVICE_INSTANCE* instance = reinterpret_cast<DNS_SERVICE_INSTANCE*>(bytes);
  if (answer.ip6) {
    IP6_ADDRESS* ip6 = reinterpret_cast<IP6_ADDRESS*>(bytes + ip6At);
    ip6->IP6Byte[15] = 1;  // ::1
    instance->ip6Address = ip6;
  }
  if (answer.ip4) {
    std::memcpy(bytes + ip4At, answer.ip4->data(), 4);  // memory order: the first octet first
    instance->ip4Address = reinterpret_cast<IP4_ADDRESS*>(bytes + ip4At);
  }
  std::memcpy(bytes + hostAt, kHostName, sizeof(kHostName));
  instance->pszHostName = reinterpret_cast<LPWSTR>(bytes + hostAt);
  if (answer.instanceName) {
    std::memcpy(bytes + nameAt, answer.instanceName->c_str(), (answer.instanceName->size() + 1) * sizeof(wchar_t));
    instance->pszInstanceName = reinterpret_cast<LPWSTR>(bytes + nameAt);
  }
  instance->wPort = answer.port;
  return instance;
}

void FakeDnsSd::releaseBlock(void* data, bool isList, DNS_FREE_TYPE type) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = blocks_.find(data);
  if (it == blocks_.end() || it->second.isList != isList) {
    counts_.foreignFrees++;
    return;
  }
  Block& block = it->second;
  if (block.freed) {
    counts_.doubleFrees++;
    return;
  }
  if (isList && type != DnsFreeRecordList) counts_.wrongFreeType++;
  block.freed = true;
  std::memset(block.memory.get(), kPoison, block.size);  // kept, not released: late writes show
  if (isList) {
    counts_.listsFreed++;
  } else {
    counts_.instancesFreed++;
  }
}

void FakeDnsSd::freeInstance(PDNS_SERVICE_INSTANCE instance) { releaseBlock(instance, false, DnsFreeFlat); }

void FakeDnsSd::dnsFree(PVOID data, DNS_FREE_TYPE type) { releaseBlock(data, true, type); }

template <class Request>
bool FakeDnsSd::wellFormed(const Request* request, PDNS_SERVICE_CANCEL cancel, bool hasCallback) {
  bool ok = request && cancel && request->Version == DNS_QUERY_REQUEST_VERSION1 && request->InterfaceIndex == 0 &&
            request->QueryName && hasCallback;
  if (!ok) counts_.badRequests++;
  return ok;
}

DNS_STATUS FakeDnsSd::browse(PDNS_SERVICE_BROWSE_REQUEST request, PDNS_SERVICE_CANCEL cancel) {
  std::lock_guard<std::mutex> lock(mutex_);
  counts_.browses++;
  if (!wellFormed(request, cancel, request && request->pBrowseCallback)) return ERROR_INVALID_PARAMETER;
  counts_.browsedNames.push_back(request->QueryName);
  if (browseResult != transport::kDnsRequestPending) return browseResult;

  auto query = std::make_unique<Query>();
  query->isBrowse = true;
  query->name = request->QueryName;
  query->browseCallback = request->pBrowseCallback;
  query->context = request->pQueryContext;
  cancel->reserved = query.get();
  browse_ = query.get();
  queries_.push_back(std::move(query));
  counts_.pendingQueries++;
  return transport::kDnsRequestPending;
}

void FakeDnsSd::deliverBrowse(std::vector<Record> records, DWORD status) {
  spawn([this, records = std::move(records), status] {
    pause();
    Query* query;
    PDNS_RECORD list;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      query = browse_;
      if (!query || query->ended) return;
      query->inFlight++;
      list = makeList(records);
    }
    query->browseCallback(status, query->context, list);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      query->inFlight--;
    }
    changed_.notify_all();
  });
}

FakeDnsSd::Query* FakeDnsSd::markCancelled(PDNS_SERVICE_CANCEL cancel, bool browse) {
  (browse ? counts_.browseCancels : counts_.resolveCancels)++;
  Query* query = findQuery(cancel);
  if (!query || query->isBrowse != browse) {
    counts_.badHandles++;
    return nullptr;
  }
  if (query->cancelled) counts_.repeatedCancels++;
  query->cancelled = true;
  if (query->returned) {
    counts_.cancelsAfterCompletion++;
    return nullptr;
  }
  return query;
}

DNS_STATUS FakeDnsSd::browseCancel(PDNS_SERVICE_CANCEL cancel) {
  std::unique_lock<std::mutex> lock(mutex_);
  Query* query = markCancelled(cancel, true);
  if (!query) return ERROR_INVALID_PARAMETER;
  if (query->ended) return ERROR_SUCCESS;
  query->ended = true;
  lock.unlock();
  // One more call, ERROR_CANCELLED, after every result already under way.
  auto last = [this, query] {
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait_for(lock, std::chrono::seconds(10), [query] { return query->inFlight == 0; });
    }
    query->browseCallback(ERROR_CANCELLED, query->context, nullptr);
    std::lock_guard<std::mutex> lock(mutex_);
    query->returned = true;
    counts_.pendingQueries--;
  };
  if (cancelCallsBackInline) {
    last();
  } else {
    spawn([this, last] {
      pause();
      last();
    });
  }
  return ERROR_SUCCESS;
}

DNS_STATUS FakeDnsSd::resolve(PDNS_SERVICE_RESOLVE_REQUEST request, PDNS_SERVICE_CANCEL cancel) {
  Query* query;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    counts_.resolves++;
    if (!wellFormed(request, cancel, request && request->pResolveCompletionCallback)) {
      return ERROR_INVALID_PARAMETER;
    }
    std::wstring name = request->QueryName;
    counts_.resolvedNames.push_back(name);

    Answer answer;
    answer.mode = Answer::Mode::Empty;
    auto it = answers_.find(name);
    if (it != answers_.end() && !it->second.empty()) {
      std::size_t& used = answersUsed_[name];
      answer = it->second[std::min(used, it->second.size() - 1)];
      used++;
    }
    if (answer.mode == Answer::Mode::Refuse) return DNS_ERROR_RCODE_SERVER_FAILURE;

    auto owned = std::make_unique<Query>();
    query = owned.get();
    query->name = name;
    query->answer = answer;
    query->resolveCallback = request->pResolveCompletionCallback;
    query->context = request->pQueryContext;
    cancel->reserved = query;
    queries_.push_back(std::move(owned));
    counts_.pendingQueries++;
  }
  Answer::Mode mode = query->answer.mode;
  if (mode == Answer::Mode::Reply || mode == Answer::Mode::Empty) {
    DWORD status = mode == Answer::Mode::Reply ? ERROR_SUCCESS : ERROR_TIMEOUT;
    if (replyBeforeResolveReturns) {
      finish(query, status, mode == Answer::Mode::Reply);
    } else {
      spawn([this, query, status, mode] {
        pause();
        finish(query, status, mode == Answer::Mode::Reply);
      });
    }
  }
  return transport::kDnsRequestPending;
}

void FakeDnsSd::completeHeld(const std::wstring& instanceName) {
  std::vector<Query*> held;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const std::unique_ptr<Query>& query : queries_) {
      if (!query->isBrowse && query->name == instanceName && !query->ended) held.push_back(query.get());
    }
  }
  for (Query* query : held) {
    spawn([this, query] { finish(query, ERROR_SUCCESS, true); });
  }
}

void FakeDnsSd::finish(Query* query, DWORD status, bool withInstance) {
  PDNS_SERVICE_INSTANCE instance = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (query->ended) return;  // a cancel or another completion came first
    query->ended = true;
    if (withInstance) instance = makeInstance(query->answer);
  }
  query->resolveCallback(status, query->context, instance);
  std::lock_guard<std::mutex> lock(mutex_);
  query->returned = true;
  counts_.pendingQueries--;
}

DNS_STATUS FakeDnsSd::resolveCancel(PDNS_SERVICE_CANCEL cancel) {
  std::unique_lock<std::mutex> lock(mutex_);
  Query* query = markCancelled(cancel, false);
  if (!query) return ERROR_INVALID_PARAMETER;
  if (query->ended) return ERROR_SUCCESS;  // its completion is under way
  lock.unlock();
  if (cancelCallsBackInline) {
    finish(query, ERROR_CANCELLED, false);
  } else {
    spawn([this, query] {
      pause();
      finish(query, ERROR_CANCELLED, false);
    });
  }
  return ERROR_SUCCESS;
}

Counts FakeDnsSd::counts() {
  std::lock_guard<std::mutex> lock(mutex_);
  Counts counts = counts_;
  for (const auto& [address, block] : blocks_) {
    if (!block.freed) continue;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(block.memory.get());
    if (std::any_of(bytes, bytes + block.size, [](unsigned char b) { return b != kPoison; })) counts.poisonTouched++;
  }
  return counts;
}

void expectCleanUse(const Counts& counts) {
  EXPECT_EQ(counts.listsFreed, counts.listsMade);
  EXPECT_EQ(counts.instancesFreed, counts.instancesMade);
  const std::pair<const char*, int> misuse[] = {
      {"double frees", counts.doubleFrees},
      {"frees of blocks never handed out", counts.foreignFrees},
      {"record lists freed as something else", counts.wrongFreeType},
      {"freed blocks written to", counts.poisonTouched},
      {"cancel handles never given out", counts.badHandles},
      {"queries cancelled twice", counts.repeatedCancels},
      {"malformed requests", counts.badRequests},
      {"cancels after the completion returned (a completion must wait for a cancel racing it)",
       counts.cancelsAfterCompletion},
      {"queries without their last callback", counts.pendingQueries},
  };
  for (const auto& [what, n] : misuse) EXPECT_EQ(n, 0) << what;
}

}  // namespace fakedns
