#include "web/web_panel.h"

#include <civetweb.h>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

#include "config/config.h"
#include "core/console.h"
#include "core/lock.h"
#include "core/log_ring.h"
#include "engine/track.h"
#include "net/status_report.h"
#include "panel/command_queue.h"
#include "panel/handlers.h"
#include "panel/input.h"
#include "web/web_message.h"

WebPanel web_panel;

bool web_address_loopback(const std::string& address) {
  return address.rfind("127.", 0) == 0 || address == "::1" || address.rfind("::ffff:127.", 0) == 0;
}

namespace {

// The address part of "ADDRESS:PORT" (or "[V6]:PORT"); civetweb wants "ADDRESS:PORT" as given.
std::string address_of(const std::string& listen) {
  const size_t colon = listen.rfind(':');
  std::string a = colon == std::string::npos ? "" : listen.substr(0, colon);
  if (a.size() >= 2 && a.front() == '[' && a.back() == ']') a = a.substr(1, a.size() - 2);
  return a;
}

}  // namespace

bool web_token_load(char* token) {
  const int fd = open(web_token_file, O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char text[web_token_chars + 1] = {};
    const ssize_t n = read(fd, text, web_token_chars);
    close(fd);
    bool valid = n == web_token_chars;
    for (int i = 0; valid && i < web_token_chars; ++i) valid = isxdigit(uint8_t(text[i])) != 0;
    if (valid) {
      memcpy(token, text, web_token_chars + 1);
      return true;
    }
  }
  uint8_t bytes[web_token_chars / 2];
  if (getrandom(bytes, sizeof bytes, 0) != ssize_t(sizeof bytes)) return false;
  for (int i = 0; i < web_token_chars / 2; ++i) snprintf(token + 2 * i, 3, "%02x", bytes[i]);
  const int out = open(web_token_file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (out < 0) return false;
  const bool written = write(out, token, web_token_chars) == web_token_chars;
  close(out);
  return written;
}

namespace {

std::string token_of(const mg_request_info* info) {
  if (info->query_string == nullptr) return "";
  char value[web_token_chars + 2] = {};
  if (mg_get_var(info->query_string, strlen(info->query_string), "token", value, sizeof value) < 0)
    return "";
  return value;
}

// Sends one text frame; the caller holds web_panel.clients_mutex. A failed send closes nothing
// here: civetweb calls the close handler when the connection ends.
void send_text(mg_connection* connection, const std::string& text) {
  mg_websocket_write(connection, MG_WEBSOCKET_OPCODE_TEXT, text.data(), text.size());
}

// A message of type `type` carrying a text: {"t":"log","text":"..."}.
std::string text_message(const char* type, const std::string& text) {
  return std::string("{\"t\":\"") + type + "\",\"text\":\"" +
         web_json_text(text.data(), text.size()) + "\"}";
}

int page_handler(mg_connection* connection, void*) {
  const mg_request_info* info = mg_get_request_info(connection);
  if (strcmp(info->request_method, "GET") != 0 && strcmp(info->request_method, "HEAD") != 0) {
    mg_send_http_error(connection, 405, "Only GET is served here");
    return 405;
  }
  if (strcmp(info->local_uri, "/") != 0) {
    mg_send_http_error(connection, 404, "No such page");
    return 404;
  }
  if (!web_request_allowed(info->remote_addr, token_of(info).c_str())) {
    mg_send_http_error(connection, 403, "This page needs the looper's token");
    return 403;
  }
  const size_t length = strlen(web_page_html);
  mg_response_header_start(connection, 200);
  mg_response_header_add(connection, "Content-Type", "text/html; charset=utf-8", -1);
  mg_response_header_add(connection, "Cache-Control", "no-store", -1);
  char length_text[24];
  snprintf(length_text, sizeof length_text, "%zu", length);
  mg_response_header_add(connection, "Content-Length", length_text, -1);
  mg_response_header_send(connection);
  if (strcmp(info->request_method, "GET") == 0) mg_write(connection, web_page_html, length);
  return 200;
}

// Ends the web thread's wait at once.
void wake_updater() {
  WebPanel& w = web_panel;
  {
    std::lock_guard<std::mutex> hold(w.wake_mutex);
    w.wake_now = true;
  }
  w.wake_cond.notify_one();
}

int socket_connect(const mg_connection* connection, void*) {
  const mg_request_info* info = mg_get_request_info(connection);
  if (!web_request_allowed(info->remote_addr, token_of(info).c_str())) return 1;
  std::lock_guard<std::mutex> hold(web_panel.clients_mutex);
  for (const WebClient& c : web_panel.clients) {
    if (c.connection == nullptr) return 0;
  }
  return 1;  // every place taken
}

void socket_ready(mg_connection* connection, void*) {
  {
    std::lock_guard<std::mutex> hold(web_panel.clients_mutex);
    for (WebClient& c : web_panel.clients) {
      if (c.connection == nullptr) {
        c = WebClient{connection, true};
        break;
      }
    }
  }
  wake_updater();  // the new page gets the whole state now
}

int socket_data(mg_connection* connection, int bits, char* data, size_t length, void*) {
  const int opcode = bits & 0x0F;
  if (opcode == MG_WEBSOCKET_OPCODE_CONNECTION_CLOSE) return 0;
  if (opcode == MG_WEBSOCKET_OPCODE_PING || opcode == MG_WEBSOCKET_OPCODE_PONG) return 1;
  WebMessage m;  // a binary frame (or a piece of a split message) is refused
  if (opcode == MG_WEBSOCKET_OPCODE_TEXT) m = web_message_parse(data, length);
  const char* error = opcode == MG_WEBSOCKET_OPCODE_TEXT ? m.error : "text messages only";
  switch (m.action) {
    case WebAction::none: break;
    case WebAction::function:
      if (!command_queue_put(m.text)) error = "command queue full";
      break;
    case WebAction::mix: web_queue_mix(m.part, m.track, m.value); break;
    default:
      if (!web_queue(WebEvent{m.action, m.part, m.value})) error = "too many keys waiting";
      break;
  }
  if (error == nullptr && m.action != WebAction::none) wake_main_loop();  // no 50 ms nap first
  if (error != nullptr) {
    std::lock_guard<std::mutex> hold(web_panel.clients_mutex);
    send_text(connection, text_message("error", error));
  }
  return 1;
}

void socket_close(const mg_connection* connection, void*) {
  std::lock_guard<std::mutex> hold(web_panel.clients_mutex);
  for (WebClient& c : web_panel.clients) {
    if (c.connection == connection) c = WebClient{};
  }
}

// Meter level 0-100: the peak in dB from -60 to 0 dB full scale.
int32_t meter_percent(int32_t peak) {
  if (peak <= 0) return 0;
  int32_t percent = 100;
  // Each 6 dB is one halving of the full-scale sample (1 << 24); 10 halvings span 60 dB.
  for (int64_t level = int64_t(1) << 24; level > peak && percent > 0; level >>= 1) percent -= 10;
  return percent < 0 ? 0 : percent;
}

// The console lines that came since the last update.
std::string take_log() {
  std::string log;
  char text[1024];
  for (int n; (n = log_take(console_log.web_log_ring, text, sizeof text)) > 0;)
    log.append(text, size_t(n));
  return log;
}

// Keeps the newest console lines for a page that opens later. Caller holds w.clients_mutex.
void keep_in_backlog(WebPanel& w, const std::string& log) {
  w.log_backlog += log;
  if (w.log_backlog.size() > size_t(web_log_backlog))
    w.log_backlog.erase(0, w.log_backlog.size() - web_log_backlog);
}

bool anyone_connected(WebPanel& w) {
  std::lock_guard<std::mutex> hold(w.clients_mutex);
  for (const WebClient& c : w.clients) {
    if (c.connection != nullptr) return true;
  }
  return false;
}

int64_t now_ms() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

void update_once() {
  WebPanel& w = web_panel;
  w.watched = anyone_connected(w);
  if (!w.watched.load()) {
    // Nobody watches: the snapshot, the state text and the waveforms wait (nothing is built or
    // allocated), and the first update with a page computes every waveform that changed.
    const std::string log = take_log();
    std::lock_guard<std::mutex> hold(w.clients_mutex);
    keep_in_backlog(w, log);
    w.wave_countdown = 0;
    return;
  }
  RemoteStatus status;
  remote_status_read(status);  // the engine lock for one snapshot copy
  const int32_t input_peak = engine_state.input_peak_shown.load();
  const int32_t output_peak = engine_state.output_peak_shown.load();
  char lines[display_line_count][display_columns + 1];
  web_display_lines(lines);
  const std::string state =
      web_state_json(status, lines, meter_percent(input_peak), meter_percent(output_peak));
  const bool state_changed = state != w.last_state;
  w.last_state = state;
  std::string panel;
  {
    std::lock_guard<std::mutex> hold(w.mutex);
    panel = w.panel_json;
  }
  const bool panel_changed = panel != w.last_panel;
  w.last_panel = panel;

  const std::string log = take_log();
  const std::string log_message = log.empty() ? "" : text_message("log", log);

  bool wave_changed[track_count] = {};
  if (--w.wave_countdown <= 0) {
    w.wave_countdown = web_wave_every;
    for (int t = 0; t < track_count; ++t) {
      WebWave& wave = w.waves[t];
      const int32_t length = tracks[t].length.load();
      if (wave.computed && length == wave.length && tracks[t].audio_changed.load() == 0) continue;
      int8_t pairs[2 * web_wave_points];
      const int count = web_compute_wave(t, pairs);
      wave.computed = true;
      wave.length = length;
      std::string json = web_wave_json(t, pairs, count);
      if (json != wave.json) {
        wave.json = std::move(json);
        wave_changed[t] = true;
      }
    }
  }

  std::lock_guard<std::mutex> hold(w.clients_mutex);
  for (WebClient& c : w.clients) {
    if (c.connection == nullptr) continue;
    if (c.fresh) {
      // The whole state first: the page shows nothing as the looper's until it has it.
      send_text(c.connection, state);
      if (!panel.empty()) send_text(c.connection, panel);
      send_text(c.connection, web_functions_json());
      for (const WebWave& wave : w.waves) {
        if (!wave.json.empty()) send_text(c.connection, wave.json);
      }
      const std::string backlog = w.log_backlog + log;
      if (!backlog.empty()) send_text(c.connection, text_message("log", backlog));
      c.fresh = false;
      continue;
    }
    if (state_changed) send_text(c.connection, state);
    if (panel_changed && !panel.empty()) send_text(c.connection, panel);
    for (int t = 0; t < track_count; ++t) {
      if (wave_changed[t]) send_text(c.connection, w.waves[t].json);
    }
    if (!log_message.empty()) send_text(c.connection, log_message);
  }
  keep_in_backlog(w, log);
}

void updater() {
  WebPanel& w = web_panel;
  while (w.running.load()) {
    const int ms = w.watched.load() ? web_update_ms : web_idle_update_ms;
    {
      std::unique_lock<std::mutex> hold(w.wake_mutex);
      w.wake_cond.wait_for(hold, std::chrono::milliseconds(ms), [&] { return w.wake_now; });
      w.wake_now = false;
    }
    if (!w.running.load()) break;
    update_once();
  }
}

}  // namespace

bool web_request_allowed(const char* peer_address, const char* token) {
  const WebPanel& w = web_panel;
  const std::string peer = peer_address != nullptr ? peer_address : "";
  const bool local = w.local_address.empty() ? web_address_loopback(peer) : peer == w.local_address;
  return local || web_token_equal(w.token, token);
}

bool web_token_equal(const char* kept, const char* given) {
  if (kept[0] == '\0' || given == nullptr || strlen(given) != size_t(web_token_chars)) return false;
  uint8_t differ = 0;  // every character compared, whatever the first difference
  for (int i = 0; i < web_token_chars; ++i) differ |= uint8_t(kept[i] ^ given[i]);
  return differ == 0;
}

void web_display_lines(char lines[][display_columns + 1]) {
  std::lock_guard<std::mutex> hold(web_panel.mutex);
  memcpy(lines, web_panel.lines, sizeof web_panel.lines);
}

bool web_queue(const WebEvent& event) {
  WebPanel& w = web_panel;
  std::lock_guard<std::mutex> hold(w.mutex);
  if (w.event_count == web_event_max) return false;
  w.events[(w.event_first + w.event_count) % web_event_max] = event;
  w.event_count++;
  return true;
}

bool web_queue_event(bool key, int32_t value) {
  return web_queue(WebEvent{key ? WebAction::key : WebAction::encoder, 0, value});
}

void web_queue_mix(int32_t kind, int32_t track, int32_t value) {
  if (kind < 0 || kind >= web_mix_kinds || track < 1 || track > track_count) return;
  std::lock_guard<std::mutex> hold(web_panel.mutex);
  web_panel.mix[kind][track - 1] = value;
}

void web_main_service() {
  WebPanel& w = web_panel;
  const bool input_free =
      panel_input.key_mailbox.load() == 0 && panel_input.encoder_count.load() == 0;
  int32_t mix[web_mix_kinds][track_count];
  bool have_event = false;
  WebEvent e{};
  {
    std::lock_guard<std::mutex> hold(w.mutex);
    for (int line = 0; line < display_line_count; ++line) {
      memcpy(w.lines[line], line_text(line), display_columns);
      w.lines[line][display_columns] = '\0';
    }
    memcpy(mix, w.mix, sizeof mix);
    for (auto& kind : w.mix) {
      for (int32_t& v : kind) v = web_mix_none;
    }
    // One event at a time, each once the panel has taken the keys before it, so that a key that
    // opens a menu is handled before the choice made in it.
    if (input_free && w.event_count > 0) {
      e = w.events[w.event_first];
      w.event_first = (w.event_first + 1) % web_event_max;
      w.event_count--;
      have_event = true;
    }
  }
  for (int kind = 0; kind < web_mix_kinds; ++kind) {
    for (int t = 0; t < track_count; ++t) {
      if (mix[kind][t] != web_mix_none) set_track_mix(t + 1, TrackMix(kind), mix[kind][t]);
    }
  }
  if (have_event) {
    if (e.action == WebAction::key) {
      // The page names keys as the looper reads them; the mailbox takes them as the configured
      // panel hardware sends them.
      panel_key_event(uint16_t(config.panel_version > 0 ? swap_key_columns(e.value) : e.value));
    } else if (e.action == WebAction::encoder) {
      panel_encoder_steps(e.value);
    } else {
      web_run_event(e);
    }
  }
  // The panel message after the event, so that a page sees its choice at once.
  const int64_t now = now_ms();
  if (w.watched.load() && (have_event || now - w.panel_built_ms >= web_update_ms)) {
    std::string panel = web_panel_json();
    w.panel_built_ms = now;
    std::lock_guard<std::mutex> hold(w.mutex);
    w.panel_json = std::move(panel);
  }
}

int web_start(const char* listen, const char* local_address) {
  WebPanel& w = web_panel;
  w.listen = listen != nullptr ? listen : web_listen_default;
  w.local_address = local_address != nullptr ? local_address : "";
  const std::string address = address_of(w.listen);
  w.token_required = !web_address_loopback(address) || !w.local_address.empty();
  if (w.token_required && !web_token_load(w.token)) {
    console_printf("Web panel off: cannot keep its token in %s\n", web_token_file);
    return -1;
  }
  // Each open page holds one of civetweb's threads; web_request_threads more serve requests,
  // each of which must arrive whole within web_request_timeout_ms. A quiet socket is pinged
  // every 5 s, and a peer that takes no data for 5 s is dropped rather than holding up every
  // other page (its page reconnects by itself).
  const std::string threads = std::to_string(web_client_max + web_request_threads);
  const std::string request_timeout = std::to_string(web_request_timeout_ms);
  const char* options[] = {"listening_ports",
                           w.listen.c_str(),
                           "num_threads",
                           threads.c_str(),
                           "enable_keep_alive",
                           "no",
                           "request_timeout_ms",
                           request_timeout.c_str(),
                           "websocket_timeout_ms",
                           "5000",
                           "enable_websocket_ping_pong",
                           "yes",
                           nullptr};
  mg_callbacks callbacks{};
  mg_init_data init{&callbacks, nullptr, options};
  char error_text[256] = {};
  unsigned error_code = 0;
  mg_error_data error{&error_code, error_text, sizeof error_text};
  mg_init_library(MG_FEATURES_WEBSOCKET);
  w.context = mg_start2(&init, &error);
  if (w.context == nullptr) {
    console_printf("Web panel off: cannot listen on %s (%s)\n", w.listen.c_str(), error_text);
    return -1;
  }
  mg_set_request_handler(w.context, "/", page_handler, nullptr);
  mg_set_websocket_handler(w.context, "/socket", socket_connect, socket_ready, socket_data,
                           socket_close, nullptr);
  mg_server_port ports[1] = {};
  w.port = mg_get_server_ports(w.context, 1, ports) == 1 ? ports[0].port : 0;
  w.running = true;
  w.updater = std::thread(updater);
  const std::string host = address == "0.0.0.0" || address.empty() ? "THIS-HOST" : address;
  if (w.token_required) {
    console_printf("Web panel: http://%s:%d/?token=%s\n", host.c_str(), w.port, w.token);
  } else {
    console_printf("Web panel: http://%s:%d/\n", host.c_str(), w.port);
  }
  return w.port;
}

void web_stop() {
  WebPanel& w = web_panel;
  if (w.running.exchange(false)) {
    wake_updater();
    w.updater.join();
  }
  if (w.context != nullptr) mg_stop(w.context);
  w.context = nullptr;
}

WebPanel::WebPanel() {
  for (auto& kind : mix) {
    for (int32_t& v : kind) v = web_mix_none;
  }
}

WebPanel::~WebPanel() { web_stop(); }

void web_reset() {
  web_stop();
  WebPanel& w = web_panel;
  std::lock_guard<std::mutex> hold(w.mutex);
  w.listen.clear();
  w.local_address.clear();
  w.token_required = false;
  memset(w.token, 0, sizeof w.token);
  w.port = 0;
  memset(w.lines, 0, sizeof w.lines);
  w.event_first = 0;
  w.event_count = 0;
  for (auto& kind : w.mix) {
    for (int32_t& v : kind) v = web_mix_none;
  }
  w.panel_json.clear();
  w.panel_built_ms = 0;
  w.watched = false;
  std::lock_guard<std::mutex> hold_clients(w.clients_mutex);
  for (WebClient& c : w.clients) c = WebClient{};
  w.log_backlog.clear();
  w.last_state.clear();
  w.last_panel.clear();
  for (WebWave& wave : w.waves) wave = WebWave{};
  w.wave_countdown = 0;
}
