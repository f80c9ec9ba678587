#include "transport/discovery_win.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cwchar>
#include <mutex>
#include <thread>
#include <utility>

#include "common/debug_log.h"
#include "transport/dns_sd_win.h"

namespace transport {

namespace {

constexpr wchar_t kServiceType[] = L"_brindlevideo._tcp.local";
// How long a completion waits for a cancel of its resolve that is under way on another thread.
constexpr std::chrono::milliseconds kCancelWait{200};
// Any host can announce names; the lists keep the newest this many, far more than a home or
// office holds phones, so a busy or hostile network costs bounded memory and cancels.
constexpr std::size_t kMaxHosts = 64;
constexpr std::size_t kMaxDeparted = 64;
constexpr std::size_t kMaxPendingResolves = 64;

// One resolve's context, so that a completion can be matched to its cancel handle. Whoever may
// still touch it holds it: the starter until DnsServiceResolve has returned, the platform until
// the completion, `stop` while it cancels. The last one frees it; it keeps the state alive.
struct ResolveContext {
  Discovery::State* state = nullptr;
  std::wstring queryName;
  DNS_SERVICE_CANCEL cancel{};
  int holds = 0;             // guarded by resolveMutex_, as is the rest
  bool started = false;      // DnsServiceResolve returned pending: `cancel` is valid
  bool completed = false;    // the completion has arrived: never cancel it
  bool cancelled = false;    // a cancel has been issued, or is about to be
  bool cancelling = false;   // that cancel call has not returned yet
  std::thread::id cancellingThread;
};

// The instance name up to its first ".", as UTF-8.
std::string nameBeforeFirstDot(const wchar_t* instanceName) {
  std::size_t length = std::wcscspn(instanceName, L".");
  if (length == 0 || length > 4096) return std::string();
  int bytes = WideCharToMultiByte(CP_UTF8, 0, instanceName, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return std::string();
  std::string name(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, instanceName, static_cast<int>(length), name.data(), bytes, nullptr, nullptr);
  return name;
}

// Makes room for one more element by dropping the oldest (the front) once `list` holds `bound`.
// True the first time that happens, as marked in `full`, so the caller logs it once.
template <class T>
bool makeRoom(std::vector<T>& list, std::size_t bound, bool& full) {
  if (list.size() < bound) return false;
  list.erase(list.begin(), list.begin() + static_cast<std::ptrdiff_t>(list.size() - bound + 1));
  return !std::exchange(full, true);
}

// DNS names compare without regard to case.
bool sameName(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), int(a.size()), b.c_str(), int(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

// Shared by the owner and every pending platform query: one reference for the owner, one for the
// browse until its last callback, one per resolve context. The last release deletes it, so no
// callback in flight ever runs against freed state. (clang-tidy's analyzer cannot count these
// references and takes any release for the last one: its use-after-free findings below are
// silenced where the caller provably still holds a reference.)
struct Discovery::State {
  explicit State(const DnsSdFunctions& functions) : functions_(functions) {}

  // One entry per instance, under the PTR target it was resolved by.
  struct Known {
    std::wstring instance;
    DiscoveredHost host;
  };
  std::mutex hostsMutex_;
  std::vector<Known> hosts_;
  std::vector<std::wstring> departed_;  // said goodbye; a resolve still under way must not bring them back
  bool hostsFull_ = false;              // guarded by hostsMutex_, as is the next: logged once
  bool departedFull_ = false;
  DNS_SERVICE_CANCEL browseCancel_{};
  std::atomic<bool> browsing_{false};
  std::mutex resolveMutex_;
  std::vector<ResolveContext*> resolves_;   // contexts alive, pending or not
  std::condition_variable cancelReturned_;  // with resolveMutex_
  bool stopping_ = false;                   // guarded by resolveMutex_: start no more resolves
  bool resolvesFull_ = false;               // guarded by resolveMutex_: logged once
  const DnsSdFunctions functions_;
  std::atomic<int> references_{1};

  void retain() { references_.fetch_add(1, std::memory_order_relaxed); }
  void release() {
    if (references_.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  // Under resolveMutex_. True when those were the last holds: the context is gone and its
  // reference on the state must be released once the lock is dropped.
  bool dropHolds(ResolveContext* context, int count) {
    context->holds -= count;
    if (context->holds > 0) return false;
    resolves_.erase(std::find(resolves_.begin(), resolves_.end(), context));
    delete context;
    return true;
  }

  // Under resolveMutex_: marks a pending resolve as being cancelled by this thread.
  void beginCancel(ResolveContext* context) {
    context->cancelled = true;
    context->cancelling = true;
    context->cancellingThread = std::this_thread::get_id();
    context->holds += 1;
  }
  // Cancels a resolve marked by beginCancel, outside the lock: the platform may call the
  // completion from inside the cancel. Releases the hold and, if it was the last, the state.
  void cancelResolve(ResolveContext* context) {
    if (functions_.resolveCancel) functions_.resolveCancel(&context->cancel);
    bool last;
    {
      std::lock_guard<std::mutex> lock(resolveMutex_);
      context->cancelling = false;
      cancelReturned_.notify_all();  // under the lock: a woken completion may be the last user
      last = dropHolds(context, 1);
    }
    if (last) release();
  }

  void startResolve(const wchar_t* instanceName);
  void addHost(const std::wstring& instanceName, const DNS_SERVICE_INSTANCE& instance);
  void forget(const wchar_t* instanceName);
  void welcomeBack(const wchar_t* instanceName);

  static VOID WINAPI onBrowse(DWORD status, PVOID context, PDNS_RECORD records);
  static VOID WINAPI onResolve(DWORD status, PVOID context, PDNS_SERVICE_INSTANCE instance);
};

void Discovery::State::startResolve(const wchar_t* instanceName) {
  if (!functions_.resolve) return;
  ResolveContext* context;
  ResolveContext* oldest = nullptr;  // cancelled to make room
  {
    std::lock_guard<std::mutex> lock(resolveMutex_);
    if (stopping_) return;
    auto cancellable = [](const ResolveContext* c) { return c->started && !c->completed && !c->cancelled; };
    if (std::size_t(std::count_if(resolves_.begin(), resolves_.end(), cancellable)) >= kMaxPendingResolves) {
      oldest = *std::find_if(resolves_.begin(), resolves_.end(), cancellable);
      beginCancel(oldest);
      if (!std::exchange(resolvesFull_, true)) {
        logLine("[Discovery] %u resolves pending: cancelling the oldest\n", static_cast<unsigned>(kMaxPendingResolves));
      }
    }
    context = new ResolveContext;
    context->state = this;
    context->queryName = instanceName;
    context->holds = 2;  // ours until the call returns, the platform's until the completion
    resolves_.push_back(context);
    retain();
  }
  if (oldest) cancelResolve(oldest);

  DNS_SERVICE_RESOLVE_REQUEST request{};
  request.Version = DNS_QUERY_REQUEST_VERSION1;
  request.InterfaceIndex = 0;
  request.QueryName = context->queryName.data();
  request.pResolveCompletionCallback = onResolve;
  request.pQueryContext = context;
  // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDelete): the browse and the new context hold references
  DNS_STATUS rc = functions_.resolve(&request, &context->cancel);

  bool last;
  bool cancelNow = false;
  {
    std::lock_guard<std::mutex> lock(resolveMutex_);
    int drop = 1;  // ours
    if (rc == kDnsRequestPending) {
      context->started = true;
      // `stop` ran while this call was under way and could not cancel it yet.
      cancelNow = stopping_ && !context->completed;
      if (cancelNow) beginCancel(context);
    } else if (!context->completed) {
      drop = 2;  // no completion will come
    }
    last = dropHolds(context, drop);
  }
  if (cancelNow) cancelResolve(context);
  // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDelete): with a cancel, ours was not the last hold
  if (last) release();
}

void Discovery::State::addHost(const std::wstring& instanceName, const DNS_SERVICE_INSTANCE& instance) {
  DiscoveredHost host;
  if (instance.pszInstanceName) host.name = nameBeforeFirstDot(instance.pszInstanceName);
  host.port = instance.wPort;
  if (instance.ip4Address) {
    const unsigned char* octets = reinterpret_cast<const unsigned char*>(instance.ip4Address);
    char text[32];
    std::snprintf(text, sizeof(text), "%u.%u.%u.%u", octets[0], octets[1], octets[2], octets[3]);
    host.ip = text;
  }
  if (host.ip.empty()) return;  // IPv6 only, or no address

  std::lock_guard<std::mutex> lock(hostsMutex_);
  if (std::any_of(departed_.begin(), departed_.end(),
                  [&](const std::wstring& gone) { return sameName(gone, instanceName); })) {
    return;
  }
  auto known = std::find_if(hosts_.begin(), hosts_.end(),
                            [&](const Known& k) { return sameName(k.instance, instanceName); });
  if (known != hosts_.end() && known->host.ip == host.ip && known->host.port == host.port) return;
  // An address and port serve one phone: whoever announced it last.
  std::erase_if(hosts_, [&](const Known& k) {
    return !sameName(k.instance, instanceName) && k.host.ip == host.ip && k.host.port == host.port;
  });
  known = std::find_if(hosts_.begin(), hosts_.end(), [&](const Known& k) { return sameName(k.instance, instanceName); });
  logLine("[Discovery] %s @ %s:%u\n", host.name.c_str(), host.ip.c_str(), static_cast<unsigned>(host.port));
  if (known != hosts_.end()) {
    known->host = std::move(host);  // the phone moved: its entry follows, in its place
  } else {
    if (makeRoom(hosts_, kMaxHosts, hostsFull_)) {
      logLine("[Discovery] %u phones listed: dropping the oldest\n", static_cast<unsigned>(kMaxHosts));
    }
    hosts_.push_back(Known{instanceName, std::move(host)});
  }
}

// A goodbye: the phone is leaving, its entry goes.
void Discovery::State::forget(const wchar_t* instanceName) {
  std::lock_guard<std::mutex> lock(hostsMutex_);
  if (std::none_of(departed_.begin(), departed_.end(),
                   [&](const std::wstring& gone) { return sameName(gone, instanceName); })) {
    if (makeRoom(departed_, kMaxDeparted, departedFull_)) {
      logLine("[Discovery] %u departed names kept: forgetting the oldest\n", static_cast<unsigned>(kMaxDeparted));
    }
    departed_.emplace_back(instanceName);
  }
  auto known = std::find_if(hosts_.begin(), hosts_.end(), [&](const Known& k) { return sameName(k.instance, instanceName); });
  if (known == hosts_.end()) return;
  logLine("[Discovery] %s @ %s:%u left\n", known->host.name.c_str(), known->host.ip.c_str(),
          static_cast<unsigned>(known->host.port));
  hosts_.erase(known);
}

void Discovery::State::welcomeBack(const wchar_t* instanceName) {
  std::lock_guard<std::mutex> lock(hostsMutex_);
  std::erase_if(departed_, [&](const std::wstring& gone) { return sameName(gone, instanceName); });
}

VOID WINAPI Discovery::State::onBrowse(DWORD status, PVOID context, PDNS_RECORD records) {
  State* state = static_cast<State*>(context);
  for (PDNS_RECORD record = records; record; record = record->pNext) {
    if (record->wType != DNS_TYPE_PTR) continue;
    const wchar_t* target = record->Data.PTR.pNameHost;
    if (!target || !target[0]) continue;
    // NOLINTBEGIN(clang-analyzer-cplusplus.NewDelete): the browse holds a reference
    if (record->dwTtl == 0) {
      state->forget(target);
    } else {
      state->welcomeBack(target);
      state->startResolve(target);
    }
    // NOLINTEND(clang-analyzer-cplusplus.NewDelete)
  }
  // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDelete): as above
  if (records && state->functions_.dnsFree) state->functions_.dnsFree(records, DnsFreeRecordList);

  // A cancelled browse calls back once more with ERROR_CANCELLED, and never after that.
  if (status == ERROR_CANCELLED) {
    state->browsing_.store(false);
    state->release();
  }
}

VOID WINAPI Discovery::State::onResolve(DWORD, PVOID context, PDNS_SERVICE_INSTANCE instance) {
  ResolveContext* resolve = static_cast<ResolveContext*>(context);
  State* state = resolve->state;
  if (instance) {
    state->addHost(resolve->queryName, *instance);
    if (state->functions_.freeInstance) state->functions_.freeInstance(instance);
  }
  bool last;
  {
    std::unique_lock<std::mutex> lock(state->resolveMutex_);
    resolve->completed = true;
    // A cancel of this resolve is under way on another thread: return only after it, so the
    // platform never gets a cancel for a query whose completion has returned. Bounded, in case
    // that cancel in turn waits for this callback.
    if (resolve->cancelling && resolve->cancellingThread != std::this_thread::get_id()) {
      state->cancelReturned_.wait_for(lock, kCancelWait, [resolve] { return !resolve->cancelling; });
    }
    last = state->dropHolds(resolve, 1);
  }
  if (last) state->release();
}

// NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDelete): the owner's reference, released only here
void Discovery::StateRelease::operator()(State* state) const { state->release(); }

Discovery::Discovery() : functions_(nullptr) {}

Discovery::Discovery(const DnsSdFunctions& functions) : functions_(&functions) {}

Discovery::~Discovery() { stop(); }

bool Discovery::start() {
  if (state_ && state_->browsing_.load()) return true;
  if (!state_) state_.reset(new State(functions_ ? *functions_ : systemDnsSdFunctions()));
  State& state = *state_;

  DNS_STATUS rc = ERROR_CALL_NOT_IMPLEMENTED;  // Windows before 10 version 1903, and Wine
  if (state.functions_.browse) {
    DNS_SERVICE_BROWSE_REQUEST request{};
    request.Version = DNS_QUERY_REQUEST_VERSION1;
    request.InterfaceIndex = 0;
    request.QueryName = kServiceType;
    request.pBrowseCallback = State::onBrowse;
    request.pQueryContext = &state;
    state.retain();  // the browse's, until its last callback
    rc = state.functions_.browse(&request, &state.browseCancel_);
    if (rc != kDnsRequestPending) state.release();
  }
  if (rc != kDnsRequestPending) {
    logLine("[Discovery] DnsServiceBrowse failed rc=%lu\n", static_cast<unsigned long>(rc));
    return false;
  }
  state.browsing_.store(true);
  logLine("[Discovery] browsing for _brindlevideo._tcp\n");
  return true;
}

void Discovery::stop() {
  if (!state_) return;
  State& state = *state_;
  if (state.browsing_.exchange(false) && state.functions_.browseCancel) {
    state.functions_.browseCancel(&state.browseCancel_);
  }

  // One at a time, each checked just before its cancel, so a completion that has arrived
  // meanwhile is not cancelled.
  {
    std::lock_guard<std::mutex> lock(state.resolveMutex_);
    state.stopping_ = true;
  }
  for (;;) {
    ResolveContext* next = nullptr;
    {
      std::lock_guard<std::mutex> lock(state.resolveMutex_);
      for (ResolveContext* context : state.resolves_) {
        if (context->started && !context->completed && !context->cancelled) {
          next = context;
          break;
        }
      }
      if (!next) break;
      // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDelete): state_ holds the owner's reference
      state.beginCancel(next);
    }
    state.cancelResolve(next);
  }

  state_.reset();  // the owner's reference; the last callback under way frees the state
}

std::vector<DiscoveredHost> Discovery::hosts() const {
  if (!state_) return {};
  std::lock_guard<std::mutex> lock(state_->hostsMutex_);
  std::vector<DiscoveredHost> hosts;
  hosts.reserve(state_->hosts_.size());
  for (const State::Known& known : state_->hosts_) hosts.push_back(known.host);
  return hosts;
}

}  // namespace transport
