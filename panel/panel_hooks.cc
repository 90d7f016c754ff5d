#include "panel/panel_hooks.h"

PanelHooks panel_hooks;

int request_track_save(int32_t t, int32_t slot) { return request_save(t, slot); }
