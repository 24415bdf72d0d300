#ifndef VOCORA_TOOLS_RESULT_NAMES_H
#define VOCORA_TOOLS_RESULT_NAMES_H

#include <cstdint>

// The constant's name for a result code, or "unknown".
const char* ResultName(uint32_t ulResult);

// What a capture or microphone-level result means for the user, as a phrase
// ("" for codes those calls do not return).
const char* CaptureResultMeaning(uint32_t ulResult);

#endif
