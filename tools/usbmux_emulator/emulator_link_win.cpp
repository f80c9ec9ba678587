#include "tools/usbmux_emulator/emulator_link.h"

#include <windows.h>

#include <utility>

#include "transport/usbmux_channel_win.h"

namespace usbmuxemu {

namespace {

constexpr DWORD kPipeBufferSize = 65536;

class PipeLink : public Link {
 public:
  explicit PipeLink(common::UniqueHandle pipe)
      : pipe_(std::move(pipe)), wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

  long read(std::uint8_t* data, std::size_t size) override {
    if (woken()) return -1;
    DWORD got = 0;
    DWORD want = size > kPipeBufferSize ? kPipeBufferSize : DWORD(size);
    if (!transport::pipeRead(pipe_.get(), data, want, got, wake_.get())) return GetLastError() == ERROR_BROKEN_PIPE ? 0 : -1;
    return long(got);
  }

  bool writeAll(const std::uint8_t* data, std::size_t size) override {
    transport::MuxChannel channel;
    channel.pipe = pipe_.get();
    return !woken() && transport::writeAll(channel, data, size, wake_.get());
  }

  void wake() override {
    if (wake_) SetEvent(wake_.get());
  }

 private:
  bool woken() const { return !wake_ || WaitForSingleObject(wake_.get(), 0) == WAIT_OBJECT_0; }

  common::UniqueHandle pipe_;
  common::UniqueHandle wake_;
};

}  // namespace

long SocketLink::read(std::uint8_t* data, std::size_t size) {
  while (!woken_.load()) {
    phonesim::Socket::Wait wait = socket_.waitReadable(100);
    if (wait == phonesim::Socket::Wait::Failed) return -1;
    if (wait == phonesim::Socket::Wait::Ready) return socket_.receive(data, size);
  }
  return -1;
}

bool SocketLink::writeAll(const std::uint8_t* data, std::size_t size) {
  return !woken_.load() && socket_.sendAll(data, size);
}

void SocketLink::wake() {
  woken_.store(true);
  socket_.shutdownBoth();  // the peer learns at once that the connection is over
}

bool readExact(Link& link, std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    long n = link.read(data, size);
    if (n < 1) return false;
    data += n;
    size -= std::size_t(n);
  }
  return true;
}

PipeListener::PipeListener() : wake_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

common::UniqueHandle PipeListener::createInstance(bool first) {
  DWORD openMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | (first ? FILE_FLAG_FIRST_PIPE_INSTANCE : 0);
  HANDLE h = CreateNamedPipeW(name_.c_str(), openMode, PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT,
                              PIPE_UNLIMITED_INSTANCES, kPipeBufferSize, kPipeBufferSize, 0, nullptr);
  return common::UniqueHandle(h == INVALID_HANDLE_VALUE ? nullptr : h);
}

bool PipeListener::open(const std::wstring& name, std::string& error) {
  name_ = name;
  if (!wake_) {
    error = "CreateEvent failed, error " + std::to_string(GetLastError());
    return false;
  }
  // Wine ignores FILE_FLAG_FIRST_PIPE_INSTANCE, so ask first whether anyone serves the name.
  if (WaitNamedPipeW(name_.c_str(), 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
    error = "the named pipe is already served by another program";
    return false;
  }
  listening_ = createInstance(true);
  if (!listening_) {
    error = "named pipe already served or not creatable, error " + std::to_string(GetLastError());
    return false;
  }
  return true;
}

std::unique_ptr<Link> PipeListener::accept(std::string& error) {
  if (!listening_) return nullptr;
  OVERLAPPED ov{};
  ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (ov.hEvent == nullptr) return nullptr;
  bool connected = false;
  if (ConnectNamedPipe(listening_.get(), &ov)) {
    connected = true;
  } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
    connected = true;
  } else if (GetLastError() == ERROR_IO_PENDING) {
    HANDLE waits[2] = {ov.hEvent, wake_.get()};
    DWORD woke = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woke != WAIT_OBJECT_0) CancelIoEx(listening_.get(), &ov);
    DWORD ignored = 0;
    connected = GetOverlappedResult(listening_.get(), &ov, &ignored, TRUE) && woke == WAIT_OBJECT_0;
  } else {
    error = "ConnectNamedPipe failed, error " + std::to_string(GetLastError());
  }
  CloseHandle(ov.hEvent);
  if (!connected) return nullptr;

  common::UniqueHandle client = std::move(listening_);
  listening_ = createInstance(false);
  if (!listening_) error = "no further pipe instance, error " + std::to_string(GetLastError());
  return std::make_unique<PipeLink>(std::move(client));
}

void PipeListener::wake() {
  if (wake_) SetEvent(wake_.get());
}

}  // namespace usbmuxemu
