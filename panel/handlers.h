// The handlers behind the function table and the controller function table: each takes one
// argument, acts on the selected tracks through the engine, and leaves its report for the display.
// Main thread only; they take the engine lock themselves where they change engine state.
#pragma once

#include <cstdint>

// Selection.
int32_t cmd_select_track(int32_t track);   // 0 all tracks, 1..8 one track
int32_t cmd_select_group(int32_t group);   // 1..10
int32_t cmd_next_track(int32_t step);      // +1 next, -1 previous
int32_t cmd_except_track(int32_t unused);  // toggles the Except flag
// The temporary group of one track (track key second event): its screen, on which track keys
// add and remove members and select opens the track menu for the group.
void start_temporary_group(int track);
// Starts again from the main menu and opens the current selection's menu: the all-tracks menu
// for all tracks, else the track menu.
void open_selection_menu();

// Recording and playing (the current track, or each selected track).
int32_t cmd_rec_dub(int32_t kind);            // 0 free, 1 MIDI synchronised, 2 synchronised
int32_t cmd_q_midi_sync_rec(int32_t unused);  // MIDI recording of the track's quantise steps
int32_t cmd_play_stop(int32_t now);
// "Transport Mode": 0 off, 1 follow, 2 master (for this run); below 0, the next mode in turn.
int32_t cmd_transport_mode(int32_t mode);
int32_t cmd_play(int32_t kind);  // 0 play, 1 now, 2 retrigger, 3 random, 4 once
int32_t cmd_all_play(int32_t now);
int32_t cmd_stop(int32_t now);
int32_t cmd_all_stop(int32_t now);
int32_t cmd_replay_all_stop(int32_t unused);
int32_t cmd_track_erase(int32_t unused);
int32_t cmd_set_clock_src(int32_t unused);
int32_t cmd_multiply(int32_t factor);  // 2..4; 0 asks for the factor
int32_t cmd_cue(int32_t unused);
int32_t cmd_replace(int32_t keep);  // keep 1: the loop stays audible
int32_t cmd_q_replace(int32_t keep);
int32_t cmd_midi_start(int32_t unused);
// Starts a round-trip measurement through a cable from OUTL to INL; the idle tick reports it.
int32_t cmd_measure_latency(int32_t unused);
int32_t cmd_quant_value(int32_t steps);  // 1..64
int32_t cmd_undo(int32_t unused);
int32_t cmd_redo(int32_t unused);
// "Capture Loop", "Capture 2x", "Capture 4x": times is the number of lengths (1, 2, 4).
int32_t cmd_capture_loop(int32_t times);
// "Rec Length" (bars 0 free, 1, 2, 4, 8, 16), "Count-in Bars" (0 off, 1, 2) and "Click" (0 off,
// 1 during the count-in, 2 always); a negative argument (no number) steps to the next value.
int32_t cmd_rec_length(int32_t bars);
int32_t cmd_count_in_bars(int32_t bars);
int32_t cmd_click(int32_t mode);
// Quantise steps (1..64) of every selected track.
int set_quant_steps(int32_t steps);

// Switching and bouncing.
int32_t cmd_switch(int32_t mode);  // 0 record, 1 play with the clock source, 2 play
int32_t cmd_zt6_switch(int32_t unused);
int32_t cmd_bounce(int32_t type);  // 0 free, 1 synchronised, 2 MIDI synchronised

// Mix.
int32_t cmd_track_level(int32_t level);  // 0..-96, or 30000: ask
int32_t cmd_track_level_step(int32_t step);
int32_t cmd_feedback(int32_t value);  // percent, 20000 +- step, or 30000: ask
int32_t cmd_pan_center(int32_t pan);  // -127..127, or 30000: ask
// One mix value of track k (1..8), whatever the selection, as the mix functions set it: level
// 0..-96 dB (a running fade or swell stops), pan -127..127, feedback 0..100 percent; a value
// outside is brought to the nearest end. The display shows it when k is the selected track.
enum class TrackMix { level, pan, feedback };
void set_track_mix(int k, TrackMix which, int32_t value);
int32_t cmd_fade_swell(int32_t kind);     // 0 toggle, 1 fade, 2 swell
int32_t cmd_use_preset(int32_t n);        // 0..10
int32_t cmd_assign_output(int32_t dest);  // 0 main, 1 aux 1, 2 aux 2

// MIDI output and display settings.
int32_t cmd_midi_stop(int32_t unused);   // sends MIDI Stop
int32_t cmd_midi_bypass(int32_t value);  // zt6_display 0 or 1

// Track-menu and all-tracks-menu items without a function-table row.
int32_t cmd_save_audio(int32_t unused);   // asks for a slot, confirms, saves the track
int32_t cmd_load_audio(int32_t unused);   // asks for a slot and loads the track from it
int32_t cmd_set_q_steps(int32_t unused);  // the current track's quantise steps
constexpr int32_t clock_info_track = 0;
constexpr int32_t clock_info_all_tracks = 1;
int32_t cmd_midi_clock_info(int32_t from);  // clock_info_track or clock_info_all_tracks
// The 1-second service of "Save Audio" and "Load Audio": progress, completion, time-out.
void audio_slots_tick();

// Controller functions: the argument is the whole controller input code.
int32_t cc_general_use(int32_t code);  // quantise steps of all tracks; CC 119 bounce destination
int32_t cc_track_volume(int32_t code);
int32_t cc_feedback(int32_t code);
int32_t cc_track_pan(int32_t code);
int32_t cc_speed(int32_t code);
