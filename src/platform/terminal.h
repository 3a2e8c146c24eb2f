// Single key presses from the controlling terminal.
#pragma once

// What read_key gives for a key that sends an escape sequence (arrows,
// function keys), and for a wait with no terminal to read from.
constexpr int other_key = -1;

// Waits for one key press on the controlling terminal, not on stdin,
// without echo and without waiting for a line, and gives the byte the key
// sent: Ctrl-C reads as 3, a lone Esc as 27.  The terminal's settings are
// back as they were when it returns.  Without a terminal it returns at
// once, so that a script never hangs on it.
int read_key();

// Whether the descriptor is open on a terminal.
bool is_terminal(int fd);
