#pragma once
// The one way this program drains an inotify descriptor: every queued event, without blocking (the
// descriptor is opened non-blocking), each handed over whole. Events are taken in batches, so a
// burst costs a read per batch rather than one per event.
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

namespace platform {

template <typename Visit>
void ForEachInotifyEvent(int fd, Visit&& visit) {
  alignas(inotify_event) char buffer[64 * (sizeof(inotify_event) + NAME_MAX + 1)];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      visit(*event);
    }
  }
}

}  // namespace platform
