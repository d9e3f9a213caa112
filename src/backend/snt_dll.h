// The recording engine: the one doorway between the user interface and the
// recording machinery. All functions are called on the user-interface thread.
#pragma once

// A new character array of 255 bytes holding the proposed file name of a
// recording: the current local time as "SNT_%d_%m_%y__%H-%M-%S". The caller
// deletes it (delete[]).
char* makeFileName();
