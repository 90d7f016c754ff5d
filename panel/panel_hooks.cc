#include "panel/panel_hooks.h"

PanelHooks panel_hooks;
