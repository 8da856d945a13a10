// Extra entry of the stand-in, for tests and tools: send the log lines to
// a file (or back to QANPRO_LOG / stderr with a null path).
#pragma once

#include "host/qanpro.h"

extern "C" QANPRO_API void QANPRO_CALL QanproSetLogPath(const char* path);
