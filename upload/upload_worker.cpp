#include "upload/upload_worker.h"

// The upload itself is still to come; the overlay already hands its PNG over here.
void StartUpload(std::vector<BYTE>) {}
