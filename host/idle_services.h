// The services the idle tick and the main loop run, one entry per slot of the tick. Each
// forwards to the subsystem that owns the work; slots whose subsystem does not run yet are
// empty. Main thread only.
#pragma once

#include <cstdint>

void idle_quarter_service();   // every 250 ms: pad-controller lights, periodic status
void idle_second_service();    // once a second: pad-controller identity poll, the level meter page,
                               // audio slot progress
void idle_input_service();     // virtual panel link, front-panel and MIDI input poll
void idle_config_service();    // configuration save when a setting changed
void idle_ten_ms_service();    // fades, peak holds and display time-outs, random restarts
int32_t idle_clean_service();  // clears one dirty block; returns the dirty blocks left
void idle_track_service();     // pending track actions and undo bookkeeping
void idle_command_service();   // at most one queued text command
void idle_report_midi();       // console "m"
void idle_report_looper();     // console "s"
