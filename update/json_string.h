// The update check's reader of version.json is the ground's JSON reader.
#pragma once

#include "app/json.h"
#include "app/text.h"
