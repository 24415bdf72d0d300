#ifndef VOCORA_TOOLS_RESULT_NAMES_H
#define VOCORA_TOOLS_RESULT_NAMES_H

#include <cstdint>

// The constant's name for a result code, or "unknown".
const char* ResultName(uint32_t ulResult);

#endif
