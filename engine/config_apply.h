// Carries the configuration's output levels and noise-gate settings into the engine. Main
// thread (start-up, setters) and the network thread (host SysEx); takes the engine lock.
#pragma once

// Main level v (-8..8) to the engine's main output shift, aux level to the aux shift (a value
// outside -8..8 leaves that shift unchanged), then the noise gate settings.
void config_apply_to_engine();
// The noise gate alone: gate_level = 1 << noise_gate_level, gate_delay = 50 × noise_gate_delay
// frames (each bounded to the menu's range). Called again whenever either setting changes.
void config_apply_noise_gate();
