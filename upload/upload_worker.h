// Uploading a PNG in the background behind a small progress window.
#pragma once

#include <windows.h>

#include <vector>

// Shows the progress window and uploads png on a worker thread; call on the UI thread.
void StartUpload(std::vector<BYTE> png);
