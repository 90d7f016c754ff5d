// Reads the live looper into a RemoteStatus: transport state, the live mix and the selection.
#include "config/config.h"
#include "engine/track.h"
#include "host/lock.h"
#include "net/status_report.h"
#include "panel/selection.h"

void remote_status_read(RemoteStatus& status) {
  {
    EngineLockGuard lock;
    status.state_word = track_state_snapshot();
    for (int t = 0; t < status_track_count; ++t) {
      status.length[t] = tracks[t].length;
      status.position[t] = tracks[t].position;
    }
  }
  for (int t = 0; t < status_track_count; ++t) {
    status.level[t] = config_live.mix_level[t];
    status.pan[t] = config_live.mix_pan[t];
    status.feedback[t] = config_live.mix_feedback[t];
  }
  const int32_t current = selection.current_track;
  status.selected = current >= 1 && current <= status_track_count ? current : 0;
}
