#include "capture/capture_session.h"

// The capture session is still to come; the tray's three triggers already lead here.
void StartCapture() {}
