#include "net/button.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "core/console.h"

namespace {

constexpr char active_low_path[] = "/sys/class/gpio/gpio17/active_low";
constexpr char edge_path[] = "/sys/class/gpio/gpio17/edge";
constexpr char value_path[] = "/sys/class/gpio/gpio17/value";
constexpr char connect_command[] = "sudo nmcli connection up PIZT4";
constexpr int value_read_max = 20;

bool write_text(const char* path, const char* text) {
  const int fd = open(path, O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const ssize_t n = write(fd, text, strlen(text));
  close(fd);
  return n == ssize_t(strlen(text));
}

void fail() { console_printf("button thread failed.\n"); }

}  // namespace

void button_edge(const char* value, int length) {
  if (length > 0 && value[0] == '1') {
    console_printf("Button pressed\n");
    (void)system(connect_command);
  } else {
    console_printf("Button released\n");
  }
}

// The pin reads 1 while the button is down (active low), and every edge wakes the poll.
void* button_thread(void*) {
  const bool configured = write_text(active_low_path, "1") && write_text(edge_path, "both");
  const int fd = configured ? open(value_path, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0) {
    fail();
    return nullptr;
  }
  for (;;) {
    pollfd p = {fd, POLLPRI | POLLERR, 0};
    if (poll(&p, 1, -1) < 0) continue;
    char value[value_read_max];
    lseek(fd, 0, SEEK_SET);
    const ssize_t n = read(fd, value, sizeof value);
    if (n < 0) {
      fail();
      close(fd);
      return nullptr;
    }
    button_edge(value, int(n));
  }
}

void button_start() {
  pthread_t thread;
  if (pthread_create(&thread, nullptr, button_thread, nullptr) == 0) pthread_detach(thread);
}
