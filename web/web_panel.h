// The web panel: an HTTP and WebSocket server (civetweb) inside the looper that serves one page
// to phones and tablets and keeps each open page up to date: the eight tracks, the two display
// lines, the meters, each loaded track's waveform and the console log. The page sends function
// names (through the text-command queue, like the remote program), panel keys and encoder turns
// (through the panel input mailbox, like the virtual panel link), see web/web_message.h.
//
// Threads: civetweb's own threads take requests and socket messages; one web thread takes a
// snapshot of the looper every 20 ms (the engine lock held only for the copy), computes the
// waveforms and sends what changed. The main thread hands over the display lines and delivers
// key events (web_main_service).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "core/constants.h"
#include "panel/display.h"
#include "web/web_message.h"

constexpr char web_listen_default[] = "127.0.0.1:8080";
constexpr char web_token_file[] = ".zt4.web-token";
constexpr int web_token_chars = 32;  // hexadecimal
constexpr int web_client_max = 8;    // open pages at once; more are refused
// civetweb serves each connection on a thread of its own until its request has been read and
// answered (an open page's socket keeps its thread). Beyond the open pages' threads, this many
// take page loads and socket openings, so a phone must keep more connections than that open at
// once before anyone else's page waits; and a connection must send its whole request within the
// time-out, so one that trickles gives its thread back soon.
constexpr int web_request_threads = 32;
constexpr int web_request_timeout_ms = 2000;
constexpr int web_event_max = 16;      // key and encoder events waiting for the main thread
constexpr int web_wave_points = 300;   // min/max pairs per track
constexpr int web_log_backlog = 4096;  // console text a newly opened page gets
constexpr int web_update_ms = 20;      // snapshot period
// With no page open the web thread only keeps the console's newest lines for the next page; it
// wakes this seldom (the log ring holds far more than this much console text), and at once when
// a page connects.
constexpr int web_idle_update_ms = 250;
constexpr int web_wave_every = 10;  // snapshots between waveform checks

// One message for the main thread, in the order the pages sent them: a key, encoder steps, or a
// menu choice, value entry, learn, unmap or drum setting (web/web_message.h).
struct WebEvent {
  WebAction action;
  int32_t part;
  int32_t value;
};

constexpr int32_t web_mix_none = INT32_MIN;  // no mix value waiting

struct WebClient {
  struct mg_connection* connection;  // null: free
  bool fresh;                        // has had nothing yet: gets everything at the next send
};

struct WebWave {
  int32_t length = 0;  // loop length it was computed for
  bool computed = false;
  std::string json;  // the last "wave" message sent for the track
};

struct WebPanel {
  // Settings, fixed once started.
  std::string listen;           // civetweb listening_ports text, e.g. "127.0.0.1:8080"
  std::string local_address;    // peers at this address need no token; empty: any loopback one
  bool token_required = false;  // listening beyond loopback
  char token[web_token_chars + 1] = {};
  int port = 0;  // the bound port once started

  // The main thread's exchange: held only for copies, never while sending, so a phone whose
  // connection stalls never holds up the main loop. Never held while taking the engine lock.
  std::mutex mutex;
  char lines[display_line_count][display_columns + 1] = {};  // as the main thread last gave them
  WebEvent events[web_event_max] = {};
  int event_first = 0;
  int event_count = 0;
  // The newest fader value of each kind and track, until the main thread applies it (a drag sends
  // many; only the last counts).
  int32_t mix[web_mix_kinds][track_count];
  // The panel message (menu on screen, drum machine and clock, MIDI mappings) as the main thread
  // last built it, and when; watched: a page is open, so the main thread builds it.
  std::string panel_json;
  int64_t panel_built_ms = 0;
  std::atomic<bool> watched{false};

  // The open pages: held while sending to them, so that a page's connection stays valid (civetweb
  // ends it only after the close handler has taken it out here).
  std::mutex clients_mutex;
  WebClient clients[web_client_max] = {};
  std::string log_backlog;

  // The web thread's own.
  struct mg_context* context = nullptr;
  std::thread updater;
  std::atomic<bool> running{false};
  std::mutex wake_mutex;  // with wake_cond: a page connected, or the server stops
  std::condition_variable wake_cond;
  bool wake_now = false;
  std::string last_state;  // the last state message sent
  std::string last_panel;  // the last panel message sent
  WebWave waves[track_count];
  int wave_countdown = 0;

  WebPanel();
  // A looper that exits (a restart after an upgrade) stops the server and its thread first.
  ~WebPanel();
};

extern WebPanel web_panel;

// Start-up, main thread: listens on `listen` ("ADDRESS:PORT"; port 0 takes any free one). When
// the address is not a loopback one, every request needs the token kept in .zt4.web-token in
// the working directory (made when missing) and printed on the console. local_address, when
// given, is the only peer address that needs no token (tests). Returns the bound port, or -1
// with a console line saying why: the looper then runs without the web panel.
int web_start(const char* listen, const char* local_address);
// Stops the server and the web thread (tests, and the end of the program).
void web_stop();

// Main thread, each idle input tick: gives the web panel the display lines, and hands one
// waiting key or encoder event to the panel input when none is waiting there (keys as the
// looper reads them, sent as the panel hardware of the configured version would send them).
void web_main_service();

// Socket threads: queues one event for the main thread; false when the queue is full.
bool web_queue(const WebEvent& event);
// The same for a key (scan code) or encoder steps.
bool web_queue_event(bool key, int32_t value);
// Socket threads: a fader's newest value for the main thread (web_mix_level..feedback, track 1..8).
void web_queue_mix(int32_t kind, int32_t track, int32_t value);

// Main thread (web/web_menu.cc): runs one menu, learn, unmap or drum event.
void web_run_event(const WebEvent& event);
// Main thread: the "panel" message: the screen the panel shows as a touch list (the menu with
// each item's current value, a value entry with its range, or an editor's two lines), the drum
// machine and the clock, and the MIDI mappings.
std::string web_panel_json();
// The "functions" message: the names the page offers to learn (any thread, constant).
const std::string& web_functions_json();

// Reads the token from .zt4.web-token in the working directory, or makes one and keeps it there
// (the OSC server's peers beyond loopback use the same one). False when it cannot be kept.
bool web_token_load(char* token);
// The two display lines as the main thread last handed them over (any thread).
void web_display_lines(char lines[][display_columns + 1]);

// Whether an address (as inet_ntop writes it) is one of this machine's loopback addresses.
bool web_address_loopback(const std::string& address);
// Whether given (may be null) is the kept token; kept empty: never. Takes the same time
// whatever the first difference.
bool web_token_equal(const char* kept, const char* given);

// Whether a request from peer_address carrying token (may be null) is let in.
bool web_request_allowed(const char* peer_address, const char* token);

// The "state" message for a snapshot: tracks, selection, display lines and meters (JSON).
struct RemoteStatus;
std::string web_state_json(const RemoteStatus& status, const char lines[][display_columns + 1],
                           int32_t input_peak, int32_t output_peak);
// text as the inside of a JSON string: quotes and backslashes escaped, a newline as \n, other
// characters outside printable ASCII as \u00XX.
std::string web_json_text(const char* text, size_t length);
// A waveform message for track t (0-7) from min/max pairs (each -127..127).
std::string web_wave_json(int t, const int8_t* pairs, int count);
// Computes track t's waveform from its blocks into pairs (2 × web_wave_points). Returns the
// number of pairs (0 for an empty track).
int web_compute_wave(int t, int8_t* pairs);

// The page (HTML with its script and style), compiled in.
extern const char web_page_html[];

// No server, no events, no clients (tests).
void web_reset();
