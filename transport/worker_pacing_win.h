// What both transports' workers share between connection attempts: the state reported before
// each attempt, and the pause after every failure or loss; and their socket writes and closes.
// Windows only.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "common/steady_clock.h"
#include "transport/state.h"

namespace transport {

// Bytes handed to the sink per receive.
constexpr std::size_t kReceiveBufferSize = 65536;

// A connection on which nothing has arrived for this long is dead (a phone that left the
// network, slept or lost power closes nothing): it is closed and counts as a loss. Any byte
// counts, metadata included. A live phone sends sound every 10 ms and a picture every frame:
// with its sound off, or with its pictures paused while it turns (its sound goes on), a gap
// stays far below this.
constexpr unsigned kSilenceLimitMs = 5000;

// What every stream socket gets once connected: no delay for small writes (the client hello
// leaves at once), and a receive that gives up with WSAETIMEDOUT after kSilenceLimitMs.
void prepareStreamSocket(std::uintptr_t socket);

// Listening before every attempt, except Idle once a connection has been made and more than
// 8 s (exactly 8 s still counts as recent) have passed since the last activity.
State attemptState(bool everConnected, std::int64_t lastActivityNs);

// The 1.5 s pause: up to 15 sleeps of 100 ms, each after a look at `running`.
void pauseBeforeNextAttempt(const std::atomic<bool>& running);

// Shuts a socket down both ways (waking a recv blocked on it) and closes it.
void shutdownAndClose(std::uintptr_t socket);

// Writes every byte on a connected socket, in as many sends as it takes; false when a send
// fails or moves nothing. Nothing to write is true.
bool sendAll(std::uintptr_t socket, const void* data, std::size_t size);

}  // namespace transport
