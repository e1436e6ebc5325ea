// The program's version as a definition of its own, made from the same macro as the version
// resource. The tests link Snapwren a second time with a newer number: they compile this file
// against another build_config.h, and the core library's copy of it is then never pulled into
// that link, so the rest of the program is compiled only once.
#include "build_config.h"

const wchar_t kAppVersion[] = L"" SNAPWREN_VERSION_TEXT;
// Data of its own, never folded into code: build-installer.sh finds the test key by its text.
const char kUpdateKey[] = SNAPWREN_UPDATE_KEY_TEXT;
