// The byte connections the USB mux emulator serves: a TCP socket or one instance of the named
// pipe, both woken the same way from another thread. Windows only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/unique_handle.h"
#include "tools/phone_sim/sim_socket.h"

namespace usbmuxemu {

class Link {
 public:
  virtual ~Link() = default;
  // Bytes read (> 0), 0 when the peer closed, -1 on failure or after wake.
  virtual long read(std::uint8_t* data, std::size_t size) = 0;
  virtual bool writeAll(const std::uint8_t* data, std::size_t size) = 0;
  // Ends a read or write in progress and every later one; safe from any thread.
  virtual void wake() = 0;
};

bool readExact(Link& link, std::uint8_t* data, std::size_t size);

// Reads wait in slices of 100 ms and look at the wake flag between them: under Wine a shutdown
// from another thread does not end a recv that is already waiting.
class SocketLink : public Link {
 public:
  explicit SocketLink(phonesim::Socket socket) : socket_(std::move(socket)) {}
  long read(std::uint8_t* data, std::size_t size) override;
  bool writeAll(const std::uint8_t* data, std::size_t size) override;
  void wake() override;

 private:
  phonesim::Socket socket_;
  std::atomic<bool> woken_{false};
};

// Server ends of the pipe, created for overlapped I/O.
class PipeListener {
 public:
  PipeListener();

  // Creates the first instance; fails when another server already owns the name.
  bool open(const std::wstring& name, std::string& error);
  // The next client, or null after wake or on failure. A fresh instance is listening before
  // the connected one is returned, so a client never finds the name missing.
  std::unique_ptr<Link> accept(std::string& error);
  void wake();

 private:
  common::UniqueHandle createInstance(bool first);

  std::wstring name_;
  common::UniqueHandle listening_;
  common::UniqueHandle wake_;
};

}  // namespace usbmuxemu
