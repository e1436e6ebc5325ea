// One capture session: freeze the screen, run the overlay over it, and end.
#pragma once

#include <windows.h>

class CaptureSession;

// Runs one session and returns when it has ended; does nothing while another one runs.
void StartCapture();
// Shows the overlay over the session's frozen screen and handles the thread's messages until
// the overlay is gone.
void RunOverlay(HINSTANCE instance, CaptureSession& session);
// Whether a session's overlay is open on this thread.
bool SessionRunning();
