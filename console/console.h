// The system's own formatter and console output. console_printf writes to standard output
// and to both log rings; format_to writes into a caller's buffer. Main and worker threads
// only: never called from the audio thread.
#pragma once

#include <cstdint>

// Formats to the console. Conversions: %d %x %h %b %c %s %% %i, %ld and %lx (a long argument).
// No flags or widths: an unknown character after '%' is consumed and prints nothing.
void console_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats into buffer (caller-sized), NUL-terminates it and returns the length before the NUL.
// Understands '+', '0' and a width on %d; no %i and no 'l'.
int format_to(char* buffer, const char* format, ...);

// One character to the console (CR written before LF on standard output only) and to the logs.
void console_putc(char c);
