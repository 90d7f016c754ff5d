#include "core/console.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "core/console_output.h"
#include "core/log_ring.h"

namespace {

constexpr int32_t nan_value = INT32_MIN;  // -2147483648 stands for "no value" and prints NaN
constexpr char hex_digits[] = "0123456789ABCDEF";

enum class Dialect { console, buffer };

// Where formatted characters go: the caller's buffer, or the console when buffer is null.
struct Output {
  char* buffer;
  int length;
};

// Standard output gets CR before LF (a serial-style terminal); the logs get the bare text.
// Caller holds console_log.mutex; the piece goes out at console_output_commit.
void putc_locked(char c) {
  if (c == '\n') console_output_stage('\r');
  console_output_stage(c);
  log_ring_put(console_log.udp_log_ring, c);
  log_ring_put(console_log.sysex_log_ring, c);
  log_ring_put(console_log.web_log_ring, c);
}

void emit(Output& out, char c) {
  if (out.buffer != nullptr) {
    out.buffer[out.length] = c;
  } else {
    putc_locked(c);
  }
  out.length++;
}

void emit_string(Output& out, const char* s) {
  if (s == nullptr) return;  // a null string prints as an empty one rather than crashing
  while (*s != '\0') emit(out, *s++);
}

// Signed decimal with an optional '+' for non-negative values and a minimum width; the sign
// counts toward the width, zero padding goes between sign and digits.
void emit_decimal(Output& out, int64_t value, bool plus, bool zero_pad, int width) {
  if (value == nan_value) {
    for (int i = 3; i < width; i++) emit(out, ' ');
    emit_string(out, "NaN");
    return;
  }
  char digits[24];  // 20 digits of a 64-bit magnitude plus spare
  int count = 0;
  uint64_t magnitude = value < 0 ? uint64_t(0) - uint64_t(value) : uint64_t(value);
  do {
    digits[count++] = char('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  char sign = value < 0 ? '-' : (plus ? '+' : '\0');
  int used = count + (sign != '\0' ? 1 : 0);
  if (!zero_pad)
    for (int i = used; i < width; i++) emit(out, ' ');
  if (sign != '\0') emit(out, sign);
  if (zero_pad)
    for (int i = used; i < width; i++) emit(out, '0');
  while (count > 0) emit(out, digits[--count]);
}

// The low `digits` hexadecimal digits, upper case, most significant first.
void emit_hex(Output& out, uint64_t value, int digits) {
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4)
    emit(out, hex_digits[(value >> shift) & 0xF]);
}

// Eight digits, or as many as a wider (64-bit address) value needs.
void emit_long_hex(Output& out, uint64_t value) {
  int digits = 8;
  while (digits < 16 && (value >> (4 * digits)) != 0) digits++;
  emit_hex(out, value, digits);
}

// Most significant byte first: C0A80001 is 192.168.1.1.
void emit_dotted_quad(Output& out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) {
    emit_decimal(out, int64_t((value >> shift) & 0xFF), false, false, 0);
    if (shift != 0) emit(out, '.');
  }
}

void format(Output& out, Dialect dialect, const char* f, va_list args) {
  while (char c = *f++) {
    if (c != '%') {
      emit(out, c);
      continue;
    }
    bool plus = false;
    bool zero_pad = false;
    bool width_seen = false;
    int width = 0;
    if (dialect == Dialect::buffer) {
      for (;; f++) {
        if (*f == '+') {
          plus = true;
        } else if (*f == '0' && !width_seen) {
          zero_pad = true;
        } else if (*f >= '0' && *f <= '9') {
          width_seen = true;
          width = width * 10 + (*f - '0');
        } else {
          break;
        }
      }
    }
    char conversion = *f;
    if (conversion == '\0') break;
    f++;
    switch (conversion) {
      case 'd': emit_decimal(out, va_arg(args, int), plus, zero_pad, width); break;
      case 'x': emit_hex(out, va_arg(args, unsigned int), 8); break;
      case 'h': emit_hex(out, va_arg(args, unsigned int), 4); break;
      case 'b': emit_hex(out, va_arg(args, unsigned int), 2); break;
      case 'c': emit(out, char(va_arg(args, int))); break;
      case 's': emit_string(out, va_arg(args, const char*)); break;
      case '%': emit(out, '%'); break;
      default:
        if (dialect == Dialect::buffer) {
          emit(out, conversion);  // unknown letters (including 'i' and 'l') print as themselves
        } else if (conversion == 'i') {
          emit_dotted_quad(out, va_arg(args, unsigned int));
        } else if (conversion == 'l' && *f == 'd') {
          f++;
          emit_decimal(out, va_arg(args, long), false, false, 0);
        } else if (conversion == 'l' && *f == 'x') {
          f++;
          emit_long_hex(out, uint64_t(va_arg(args, unsigned long)));
        }
        // Any other character after '%' on the console is swallowed; what follows is text.
        break;
    }
  }
}

}  // namespace

void console_printf(const char* format_text, ...) {
  std::lock_guard<std::mutex> hold(console_log.mutex);
  Output out{nullptr, 0};
  va_list args;
  va_start(args, format_text);
  format(out, Dialect::console, format_text, args);
  va_end(args);
  console_output_commit();
}

int format_to(char* buffer, const char* format_text, ...) {
  Output out{buffer, 0};
  va_list args;
  va_start(args, format_text);
  format(out, Dialect::buffer, format_text, args);
  va_end(args);
  buffer[out.length] = '\0';
  return out.length;
}

void console_putc(char c) {
  std::lock_guard<std::mutex> hold(console_log.mutex);
  putc_locked(c);
  console_output_commit();
}
