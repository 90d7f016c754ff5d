// The network button: a push button on GPIO 17 (sysfs, exported by the system) that brings up
// the fixed NetworkManager connection "PIZT4" when pressed. One thread, started at start-up,
// blocked on the pin's edges; it holds no lock.
#pragma once

// Starts the button thread. Where the pin does not exist the thread prints
// "button thread failed." and ends; the looper runs on without it.
void button_start();

// The thread's body.
void* button_thread(void*);

// One edge: value is the pin's text ("1" pressed). Prints "Button pressed" and runs the
// connection command, or prints "Button released".
void button_edge(const char* value, int length);
