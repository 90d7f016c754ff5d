// The system's own formatter and console output. console_printf writes to standard output
// and to both log rings; format_to writes into a caller's buffer. Main and worker threads
// only: never called from the audio thread.
#pragma once

#include <cstdint>

// Formats to the console. Conversions: %d %x %h %b %c %s %% %i (dotted quad), %ld and %lx (a
// long argument; %lx prints 8 digits, more when the value needs them, for 64-bit addresses).
// No flags or widths: an unknown character after '%' is consumed and prints nothing.
// %d of -2147483648 prints NaN. A whole call reaches standard output (through the output
// thread, core/console_output.h) and the logs unbroken by other threads' output, and never waits
// for standard output.
// (No printf format attribute: %h is this formatter's own conversion and the compiler's
// printf checker rejects it.)
void console_printf(const char* format, ...);

// Formats into buffer (caller-sized), NUL-terminates it and returns the length before the NUL.
// Understands '+', '0' and a width on %d; no %i and no 'l'. An unknown conversion letter is
// printed as itself and consumes no argument.
int format_to(char* buffer, const char* format, ...);

// One character to the console (CR written before LF on standard output only) and to the logs.
void console_putc(char c);
