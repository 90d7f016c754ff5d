// zt4-remote's take archive commands: sessions and takes listed, a take loaded into a track with
// the load's progress on one line, takes and sessions deleted. Single-threaded client.
#pragma once

#include "tools/remote_link.h"

// "sessions": one line per session; "(no sessions)" when the looper has none (it then sends no
// reply, so this waits for the time-out).
int cmd_sessions(const Remote& r);
// "takes SESSION": one line per take, track and take number.
int cmd_takes(const Remote& r, const char* session);
// "take load SESSION TRACK TAKE DEST": prints "Loaded N%" on one line until the load ends;
// exit_no_answer with the reason when it failed.
int cmd_take_load(const Remote& r, char** args);
// "take delete SESSION TRACK TAKE".
int cmd_take_delete(const Remote& r, char** args);
// "session delete SESSION".
int cmd_session_delete(const Remote& r, const char* session);
