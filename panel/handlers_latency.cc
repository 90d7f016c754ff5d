// "Measure Latency": starts the round-trip measurement that the idle tick finishes.
#include "core/console.h"
#include "core/constants.h"
#include "engine/latency_measure.h"
#include "panel/handlers.h"

int32_t cmd_measure_latency(int32_t) {
  if (!latency_measure_start()) {
    console_printf("Latency measurement refused: one is running\n");
    return status_refused;
  }
  console_printf("Latency measurement: a test signal on OUTL, listening on INL\n");
  return 0;
}
