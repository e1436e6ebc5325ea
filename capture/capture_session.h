// One capture session: freeze the screen, run the overlay, deliver its result.
#pragma once

// Runs one session and returns when it has ended; does nothing while another one runs.
void StartCapture();
