// Work that may take seconds runs on a thread of its own and reports by posting a message.
#pragma once

#include <windows.h>

#include <memory>

#include "app/win_handles.h"

// Runs entry with the record on a new thread, which owns the record from then on; on failure the
// caller still has it. Nothing waits for a worker, so its handle is closed at once.
template <typename Record>
bool StartWorker(LPTHREAD_START_ROUTINE entry, std::unique_ptr<Record>& record) {
  const UniqueHandle thread(CreateThread(nullptr, 0, entry, record.get(), 0, nullptr));
  if (!thread) return false;
  static_cast<void>(record.release());
  return true;
}
