// Reads the live looper into a RemoteStatus: the transport's snapshot (one copy taken under the
// engine lock), the track an edit is building, the live mix and the panel selection.
#include <atomic>

#include "config/config.h"
#include "drums/count_in_settings.h"
#include "engine/count_in.h"
#include "engine/editing.h"
#include "engine/transport.h"
#include "net/status_report.h"
#include "panel/selection.h"

void remote_status_read(RemoteStatus& status) {
  TrackStatus snapshot;
  track_status_snapshot(snapshot);
  status.state_word = snapshot.state;
  // A track under construction by an edit shows as busy until the edit has played it.
  const int32_t busy = editing_state.busy_track;
  if (busy >= 0 && busy < track_count) {
    status.state_word = (status.state_word & ~(0xFu << (4 * busy))) | state_code_busy << (4 * busy);
  }
  for (int t = 0; t < track_count; ++t) {
    status.length[t] = snapshot.length[t];
    status.position[t] = snapshot.phase[t];
    status.level[t] = live_word(config_live.mix_level[t]);
    status.pan[t] = live_word(config_live.mix_pan[t]);
    status.feedback[t] = live_word(config_live.mix_feedback[t]);
  }
  const int32_t current = selection.current_track;
  status.selected = current >= 1 && current <= track_count ? current : 0;
  CountInSettings& c = count_in_store.live;
  status.rec_length = std::atomic_ref<int16_t>(c.rec_length).load(std::memory_order_relaxed);
  status.count_in_bars = std::atomic_ref<int16_t>(c.count_in_bars).load(std::memory_order_relaxed);
  status.click = click_mode();
  status.count_in = count_in_beats();
}
