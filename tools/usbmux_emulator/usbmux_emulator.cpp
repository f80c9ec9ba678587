#include "tools/usbmux_emulator/usbmux_emulator.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "tools/usbmux_emulator/emulator_link.h"

namespace usbmuxemu {

namespace {

constexpr std::size_t kHeaderSize = 16;
constexpr std::uint32_t kMaxRequest = 1u << 20;  // requests are a few hundred bytes
constexpr std::int32_t kResultBadCommand = 1;
constexpr std::int32_t kResultBadDevice = 2;
constexpr std::int32_t kResultConnectionRefused = 3;
const wchar_t kPipeName[] = L"\\\\.\\pipe\\iTunes_USBMuxService";

const char kPlistHead[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
    "<plist version=\"1.0\">\n";

std::uint32_t readLe32(const std::uint8_t* p) {
  return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

void putLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = std::uint8_t(v >> (8 * i));
}

// The text inside <tag>...</tag> that follows "<key>key</key>"; empty optional if missing.
std::optional<std::string> valueAfterKey(const std::string& xml, const std::string& key, const std::string& tag) {
  std::size_t at = xml.find("<key>" + key + "</key>");
  if (at == std::string::npos) return std::nullopt;
  std::string open = "<" + tag + ">";
  std::size_t start = xml.find(open, at);
  if (start == std::string::npos) return std::nullopt;
  start += open.size();
  std::size_t stop = xml.find("</" + tag + ">", start);
  if (stop == std::string::npos) return std::nullopt;
  return xml.substr(start, stop - start);
}

std::optional<std::uint32_t> integerAfterKey(const std::string& xml, const std::string& key) {
  std::optional<std::string> text = valueAfterKey(xml, key, "integer");
  if (!text || text->empty() || text->size() > 10) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : *text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + std::uint64_t(c - '0');
  }
  if (value > 0xFFFFFFFFu) return std::nullopt;
  return std::uint32_t(value);
}

MuxRequest parseRequest(std::string text, std::uint32_t tag, Via via) {
  MuxRequest r;
  r.via = via;
  r.tag = tag;
  r.messageType = valueAfterKey(text, "MessageType", "string").value_or("");
  r.deviceId = integerAfterKey(text, "DeviceID");
  r.portNumber = integerAfterKey(text, "PortNumber");
  r.text = std::move(text);
  return r;
}

// Reads until the peer goes away (or the link is woken): a client that has its answer closes.
void drain(Link& link) {
  std::uint8_t scratch[512];
  while (link.read(scratch, sizeof scratch) > 0) {
  }
}

void pump(Link& from, Link& to) {
  std::vector<std::uint8_t> buffer(65536);
  for (;;) {
    long n = from.read(buffer.data(), buffer.size());
    if (n < 1 || !to.writeAll(buffer.data(), std::size_t(n))) return;
  }
}

}  // namespace

std::string deviceListPlist(const std::vector<std::uint32_t>& ids) {
  std::string out = std::string(kPlistHead) + "<dict>\n\t<key>DeviceList</key>\n\t<array>\n";
  for (std::uint32_t id : ids) {
    std::string n = std::to_string(id);
    out += "\t\t<dict>\n\t\t\t<key>DeviceID</key>\n\t\t\t<integer>" + n +
           "</integer>\n\t\t\t<key>MessageType</key>\n\t\t\t<string>Attached</string>\n"
           "\t\t\t<key>Properties</key>\n\t\t\t<dict>\n"
           "\t\t\t\t<key>ConnectionType</key>\n\t\t\t\t<string>USB</string>\n"
           "\t\t\t\t<key>DeviceID</key>\n\t\t\t\t<integer>" + n + "</integer>\n"
           "\t\t\t\t<key>LocationID</key>\n\t\t\t\t<integer>336592896</integer>\n"
           "\t\t\t\t<key>ProductID</key>\n\t\t\t\t<integer>4776</integer>\n"
           "\t\t\t\t<key>SerialNumber</key>\n\t\t\t\t<string>00008030-emulated-" + n + "</string>\n"
           "\t\t\t</dict>\n\t\t</dict>\n";
  }
  out += "\t</array>\n</dict>\n</plist>\n";
  return out;
}

std::string resultPlist(std::optional<std::int32_t> number) {
  std::string out = std::string(kPlistHead) + "<dict>\n\t<key>MessageType</key>\n\t<string>Result</string>\n";
  if (number) out += "\t<key>Number</key>\n\t<integer>" + std::to_string(*number) + "</integer>\n";
  out += "</dict>\n</plist>\n";
  return out;
}

struct UsbMuxEmulator::Session {
  std::shared_ptr<Link> client;
  std::shared_ptr<Link> phone;
  std::thread thread;
  std::atomic<bool> done{false};
};

UsbMuxEmulator::UsbMuxEmulator(EmulatorOptions options) : options_(std::move(options)) {}

UsbMuxEmulator::~UsbMuxEmulator() { stop(); }

void UsbMuxEmulator::log(const std::string& line) {
  if (onLog) onLog(line);
}

bool UsbMuxEmulator::start() {
  if (running_.load()) return false;
  phonesim::initSockets();
  if (options_.tcp) {
    std::string error;
    tcpListener_ = phonesim::Socket::listenTcp("127.0.0.1", options_.tcpPort, error);
    if (!tcpListener_.valid()) {
      error_ = "usbmux emulator: " + error;
      log(error_);
      return false;
    }
  }
  if (options_.pipe) {
    pipeListener_ = std::make_unique<PipeListener>();
    std::string error;
    if (!pipeListener_->open(kPipeName, error)) {
      error_ = "usbmux emulator: " + error;
      log(error_);
      pipeListener_.reset();
      tcpListener_.close();
      return false;
    }
  }
  running_.store(true);
  if (options_.tcp) {
    log("listening on 127.0.0.1:" + std::to_string(tcpListener_.localPort()));
    tcpThread_ = std::thread([this] { acceptTcp(); });
  }
  if (options_.pipe) {
    log("listening on the named pipe iTunes_USBMuxService");
    pipeThread_ = std::thread([this] { acceptPipe(); });
  }
  return true;
}

void UsbMuxEmulator::stop() {
  if (!running_.exchange(false)) return;
  if (pipeListener_) pipeListener_->wake();
  if (tcpThread_.joinable()) tcpThread_.join();
  if (pipeThread_.joinable()) pipeThread_.join();
  {
    std::lock_guard<std::mutex> lock(sessionsMutex_);
    for (auto& s : sessions_) {
      if (s->client) s->client->wake();
      if (s->phone) s->phone->wake();
    }
  }
  reapSessions(true);
  tcpListener_.close();
  pipeListener_.reset();
}

void UsbMuxEmulator::acceptTcp() {
  while (running_.load()) {
    reapSessions(false);
    if (tcpListener_.waitReadable(100) != phonesim::Socket::Wait::Ready) continue;
    std::string peer;
    phonesim::Socket s = tcpListener_.accept(peer);
    if (!s.valid()) continue;
    startSession(std::make_unique<SocketLink>(std::move(s)), Via::Tcp);
  }
}

void UsbMuxEmulator::acceptPipe() {
  while (running_.load()) {
    reapSessions(false);
    std::string error;
    std::unique_ptr<Link> link = pipeListener_->accept(error);
    if (!error.empty()) log(error);
    if (!link) {
      if (!error.empty()) return;  // the listener is broken; TCP may still serve
      continue;
    }
    startSession(std::move(link), Via::Pipe);
  }
}

void UsbMuxEmulator::startSession(std::unique_ptr<Link> link, Via via) {
  {
    std::lock_guard<std::mutex> lock(recordsMutex_);
    ++(via == Via::Tcp ? tcpConnections_ : pipeConnections_);
  }
  std::lock_guard<std::mutex> lock(sessionsMutex_);
  if (!running_.load()) return;  // stop is waking sessions: take no new one
  auto session = std::make_unique<Session>();
  session->client = std::move(link);
  Session* s = session.get();
  session->thread = std::thread([this, s, via] {
    serve(*s, via);
    // Close the connection now, not when the session is reaped: the client waits for it.
    std::lock_guard<std::mutex> lock(sessionsMutex_);
    s->client.reset();
    s->phone.reset();
    s->done.store(true);
  });
  sessions_.push_back(std::move(session));
}

void UsbMuxEmulator::reapSessions(bool all) {
  std::vector<std::unique_ptr<Session>> finished;
  {
    std::lock_guard<std::mutex> lock(sessionsMutex_);
    auto keep = std::stable_partition(sessions_.begin(), sessions_.end(),
                                      [all](const std::unique_ptr<Session>& s) { return !all && !s->done.load(); });
    std::move(keep, sessions_.end(), std::back_inserter(finished));
    sessions_.erase(keep, sessions_.end());
  }
  for (auto& s : finished) s->thread.join();
}

bool UsbMuxEmulator::answer(Link& link, std::uint32_t tag, const std::string& payload, Fault fault) {
  std::uint8_t header[kHeaderSize];
  putLe32(header, std::uint32_t(payload.size() + kHeaderSize));
  putLe32(header + 4, 1);
  putLe32(header + 8, 8);
  putLe32(header + 12, tag);
  const std::uint8_t* body = reinterpret_cast<const std::uint8_t*>(payload.data());
  switch (fault) {
    case Fault::CloseEarly:
      log("fault: closing without an answer");
      return false;
    case Fault::HalfHeaderStall:
      log("fault: half a header, then silence");
      link.writeAll(header, kHeaderSize / 2);
      drain(link);
      return false;
    case Fault::BogusLength: {
      log("fault: header announces " + std::to_string(options_.bogusLength) + " bytes");
      putLe32(header, options_.bogusLength);
      std::size_t bodySize = options_.bogusLength > kHeaderSize
                                 ? std::min<std::size_t>(payload.size(), options_.bogusLength - kHeaderSize)
                                 : 0;
      return link.writeAll(header, kHeaderSize) && link.writeAll(body, bodySize);
    }
    case Fault::None:
    case Fault::NoNumber:
      break;
  }
  return link.writeAll(header, kHeaderSize) && link.writeAll(body, payload.size());
}

void UsbMuxEmulator::serve(Session& session, Via via) {
  Link& client = *session.client;
  for (;;) {
    std::uint8_t header[kHeaderSize];
    if (!readExact(client, header, kHeaderSize)) return;
    std::uint32_t total = readLe32(header);
    if (total < kHeaderSize || total - kHeaderSize > kMaxRequest) {
      log("request with a bad length " + std::to_string(total) + ", closing");
      return;
    }
    std::string text(total - kHeaderSize, '\0');
    if (!readExact(client, reinterpret_cast<std::uint8_t*>(text.data()), text.size())) return;
    MuxRequest request = parseRequest(std::move(text), readLe32(header + 12), via);
    {
      std::lock_guard<std::mutex> lock(recordsMutex_);
      requests_.push_back(request);
    }
    log(std::string(via == Via::Tcp ? "tcp" : "pipe") + " request " + request.messageType);

    if (request.messageType == "ListDevices") {
      std::string reply = options_.listReply.empty() ? deviceListPlist(options_.deviceIds) : options_.listReply;
      if (!answer(client, request.tag, reply, options_.listFault)) return;
    } else if (request.messageType == "Connect") {
      connectTunnel(session, request);
      return;
    } else {
      if (!answer(client, request.tag, resultPlist(kResultBadCommand), Fault::None)) return;
    }
  }
}

void UsbMuxEmulator::connectTunnel(Session& session, const MuxRequest& request) {
  Link& client = *session.client;
  std::optional<std::int32_t> number;
  if (options_.connectFault == Fault::NoNumber) {
    number = std::nullopt;
  } else if (options_.connectFault != Fault::None) {
    if (answer(client, request.tag, resultPlist(0), options_.connectFault)) drain(client);
    return;
  } else if (options_.rejectWith) {
    number = options_.rejectWith;
  } else if (!request.deviceId || !request.portNumber || *request.portNumber > 0xFFFF) {
    number = kResultBadCommand;
  } else if (options_.listReply.empty() && std::find(options_.deviceIds.begin(), options_.deviceIds.end(),
                                                     *request.deviceId) == options_.deviceIds.end()) {
    number = kResultBadDevice;
  }
  if (number || options_.connectFault == Fault::NoNumber) {
    if (answer(client, request.tag, resultPlist(number), Fault::None)) drain(client);
    return;
  }

  std::uint16_t sent = std::uint16_t(*request.portNumber);
  std::uint16_t port = std::uint16_t((sent >> 8) | (sent << 8));
  std::string error;
  phonesim::Socket phone = phonesim::Socket::connectTcp(options_.tunnelHost, port, error);
  if (!phone.valid()) {
    log("tunnel to port " + std::to_string(port) + " refused: " + error);
    if (answer(client, request.tag, resultPlist(kResultConnectionRefused), Fault::None)) drain(client);
    return;
  }
  phone.setNoDelay();
  auto phoneLink = std::make_shared<SocketLink>(std::move(phone));
  {
    std::lock_guard<std::mutex> lock(sessionsMutex_);
    session.phone = phoneLink;
  }
  if (!running_.load()) phoneLink->wake();  // stop may have passed this session already
  if (!answer(client, request.tag, resultPlist(0), Fault::None)) return;
  tunnels_.fetch_add(1);
  log("tunnel open to device " + std::to_string(*request.deviceId) + " port " + std::to_string(port));

  std::thread up([&] {
    pump(client, *phoneLink);
    phoneLink->wake();
    client.wake();
  });
  pump(*phoneLink, client);
  client.wake();
  phoneLink->wake();
  up.join();
  log("tunnel to port " + std::to_string(port) + " closed");
}

std::vector<MuxRequest> UsbMuxEmulator::requests() const {
  std::lock_guard<std::mutex> lock(recordsMutex_);
  return requests_;
}

int UsbMuxEmulator::connections(Via via) const {
  std::lock_guard<std::mutex> lock(recordsMutex_);
  return via == Via::Tcp ? tcpConnections_ : pipeConnections_;
}

}  // namespace usbmuxemu
