#include "net/datagram.h"

#include <climits>
#include <cstring>

#include "core/console.h"
#include "core/log_ring.h"
#include "core/lock.h"
#include "net/host_sysex.h"
#include "net/remote_send.h"
#include "net/status_report.h"
#include "net/sysex_codec.h"
#include "core/constants.h"
#include "engine/latency.h"
#include "panel/command_queue.h"

DatagramHooks datagram_hooks;

namespace {

constexpr char upgrade_prefix[] = "<command>upgrade ";
constexpr char command_prefix[] = "<command>";
constexpr char command_close[] = "</command>";
constexpr char query_prefix[] = "<query>";
constexpr char user_input_prefix[] = "<userinput>";
constexpr char compact_suffix[] = " compact";

template <int N>
constexpr int text_length(const char (&)[N]) {
  return N - 1;
}

bool starts_with(const uint8_t* bytes, int length, int at, const char* text, int n) {
  return length - at >= n && memcmp(bytes + at, text, size_t(n)) == 0;
}

template <int N>
bool starts_with(const uint8_t* bytes, int length, int at, const char (&text)[N]) {
  return starts_with(bytes, length, at, text, N - 1);
}

// Reads a decimal number as "%d" would: optional blanks, an optional sign, digits. Values past
// the 32-bit range saturate at +-2147483647, so that a refusal never prints -2147483648, which
// the console shows as "NaN". Returns false when no digit follows.
bool parse_decimal(const uint8_t* bytes, int length, int at, int32_t& value) {
  int i = at;
  while (i < length && (bytes[i] == ' ' || (bytes[i] >= '\t' && bytes[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < length && (bytes[i] == '+' || bytes[i] == '-')) negative = bytes[i++] == '-';
  if (i >= length || bytes[i] < '0' || bytes[i] > '9') return false;
  int32_t v = 0;
  for (; i < length && bytes[i] >= '0' && bytes[i] <= '9'; ++i) {
    const int digit = bytes[i] - '0';
    v = v > (INT_MAX - digit) / 10 ? INT_MAX : v * 10 + digit;
  }
  value = negative ? -v : v;
  return true;
}

// Offset of the closing command tag within the first max + its length bytes after at, or -1.
int find_command_close(const uint8_t* bytes, int length, int at, int max) {
  const int n = text_length(command_close);
  for (int i = at; i <= at + max && i + n <= length; ++i) {
    if (memcmp(bytes + i, command_close, size_t(n)) == 0) return i;
  }
  return -1;
}

void reply_id(ReplySink reply, void* context) {
  char out[64];
  const int n = format_to(out, "<id>ZT4 Version %s%s</id>", zt4_version, "");
  reply(context, reinterpret_cast<const uint8_t*>(out), n + 1);
}

void reply_status(ReplySink reply, void* context, bool compact) {
  RemoteStatus status;
  remote_status_read(status);
  if (compact) {
    uint8_t out[compact_status_length];
    build_compact_status(status, out);
    reply(context, out, compact_status_length);
  } else {
    char out[status_document_max];
    const int n = build_status_document(status, out);
    reply(context, reinterpret_cast<const uint8_t*>(out), n);
  }
}

void reply_log(ReplySink reply, void* context) {
  constexpr char open[] = "<log>";
  constexpr char close[] = "</log>";
  char out[sizeof open + log_query_max + sizeof close];
  int n = text_length(open);
  memcpy(out, open, size_t(n));
  n += log_take(console_log.udp_log_ring, out + n, log_query_max);
  memcpy(out + n, close, sizeof close);  // with its NUL
  n += int(sizeof close);
  reply(context, reinterpret_cast<const uint8_t*>(out), n);
}

// "<latency>Latency: capture C, playback P, extra E frames (X.X ms); compensation on</latency>"
void reply_latency(ReplySink reply, void* context) {
  constexpr char open[] = "<latency>";
  constexpr char close[] = "</latency>";
  constexpr int line_max = 160;
  char out[sizeof open + line_max + sizeof close];
  int n = text_length(open);
  memcpy(out, open, size_t(n));
  n += latency_line(out + n, line_max);
  memcpy(out + n, close, sizeof close);  // with its NUL
  n += int(sizeof close);
  reply(context, reinterpret_cast<const uint8_t*>(out), n);
}

}  // namespace

Datagram classify_datagram(const uint8_t* bytes, int length) {
  Datagram d{DatagramKind::other, 0, nullptr, 0};
  if (length <= 0) {
    d.kind = DatagramKind::empty;
    return d;
  }
  if (starts_with(bytes, length, 0, upgrade_prefix)) {
    int32_t size = 0;
    const bool parsed = parse_decimal(bytes, length, text_length(upgrade_prefix), size);
    d.value = size;
    d.kind = parsed && size >= 1 && size <= upgrade_size_max ? DatagramKind::upgrade_request
                                                             : DatagramKind::upgrade_bad;
    return d;
  }
  if (starts_with(bytes, length, 0, query_prefix)) {
    const int at = text_length(query_prefix);
    if (starts_with(bytes, length, at, "id")) {
      d.kind = DatagramKind::query_id;
    } else if (starts_with(bytes, length, at, "status")) {
      const bool compact = starts_with(bytes, length, at + 6, compact_suffix);
      d.kind = compact ? DatagramKind::query_status_compact : DatagramKind::query_status;
    } else if (starts_with(bytes, length, at, "log")) {
      d.kind = DatagramKind::query_log;
    } else if (starts_with(bytes, length, at, "latency")) {
      d.kind = DatagramKind::query_latency;
    }
    return d;
  }
  if (starts_with(bytes, length, 0, command_prefix)) {
    const int at = text_length(command_prefix);
    const int close = find_command_close(bytes, length, at, command_text_max);
    if (close < 0) {
      d.kind = DatagramKind::command_dropped;
    } else {
      d.kind = DatagramKind::command;
      d.text = reinterpret_cast<const char*>(bytes + at);
      d.text_length = close - at;
    }
    return d;
  }
  if (starts_with(bytes, length, 0, user_input_prefix)) {
    const int at = text_length(user_input_prefix);
    if (length > at) {
      d.kind = DatagramKind::user_input;
      d.value = bytes[at];
    }
    return d;
  }
  if (bytes[0] == sysex_start) d.kind = DatagramKind::host_sysex;
  return d;
}

void handle_datagram(const uint8_t* bytes, int length, const sockaddr_in& sender, ReplySink reply,
                     void* context) {
  const Datagram d = classify_datagram(bytes, length);
  switch (d.kind) {
    case DatagramKind::empty: return;
    case DatagramKind::upgrade_bad: console_printf("Upgrade size bad %d\n", int(d.value)); return;
    case DatagramKind::upgrade_request:
      if (datagram_hooks.upgrade_start != nullptr) datagram_hooks.upgrade_start(d.value, sender);
      return;
    default: break;
  }
  remote_record_peer(sender);
  switch (d.kind) {
    case DatagramKind::query_id: reply_id(reply, context); break;
    case DatagramKind::query_status:
    case DatagramKind::query_status_compact:
      reply_status(reply, context, d.kind == DatagramKind::query_status_compact);
      break;
    case DatagramKind::query_log: reply_log(reply, context); break;
    case DatagramKind::query_latency: reply_latency(reply, context); break;
    case DatagramKind::command:
      command_queue_put(d.text, d.text_length);  // a full queue drops the command
      break;
    case DatagramKind::user_input: main_loop_lock.console_mailbox = uint32_t(d.value); break;
    case DatagramKind::host_sysex:
      main_loop_lock_take();
      host_sysex(bytes, length);
      main_loop_lock_give();
      break;
    default: break;
  }
}
