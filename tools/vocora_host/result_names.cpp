#include "result_names.h"

#include "vocora.h"

const char* ResultName(uint32_t ulResult)
{
    switch (ulResult) {
#define VOCORA_NAME(code) \
    case code:            \
        return #code;
        VOCORA_NAME(VOCORA_OK)
        VOCORA_NAME(VOCORA_ERR_RESOURCE)
        VOCORA_NAME(VOCORA_ERR_INVALID_ARG)
        VOCORA_NAME(VOCORA_ERR_NO_MEMORY)
        VOCORA_NAME(VOCORA_ERR_NOT_AVAILABLE)
        VOCORA_NAME(VOCORA_CAP_ERR_NO_INPUT_DEVICE)
        VOCORA_NAME(VOCORA_CAP_ERR_MIXER_OPEN)
        VOCORA_NAME(VOCORA_CAP_ERR_MIXER_CAPS)
        VOCORA_NAME(VOCORA_CAP_ERR_MIXER_LINE)
        VOCORA_NAME(VOCORA_CAP_ERR_MIXER_CONTROLS)
        VOCORA_NAME(VOCORA_CAP_ERR_SET_MIC_VOLUME)
        VOCORA_NAME(VOCORA_CAP_ERR_GET_MIC_VOLUME)
        VOCORA_NAME(VOCORA_CAP_ERR_CREATE_CAPTURE)
        VOCORA_NAME(VOCORA_CAP_ERR_CREATE_BUFFER)
        VOCORA_NAME(VOCORA_CAP_ERR_NOTIFY)
        VOCORA_NAME(VOCORA_CAP_ERR_START)
        VOCORA_NAME(VOCORA_CAP_ERR_NO_OUTPUT_DEVICE)
        VOCORA_NAME(VOCORA_CAP_ERR_MANY_OUTPUT_DEVICES)
        VOCORA_NAME(VOCORA_PLAY_ERR_NO_DEVICE)
        VOCORA_NAME(VOCORA_PLAY_ERR_CREATE_DEVICE)
        VOCORA_NAME(VOCORA_PLAY_ERR_COOPERATIVE_LEVEL)
        VOCORA_NAME(VOCORA_PLAY_ERR_NOT_STARTED)
        VOCORA_NAME(VOCORA_PLAY_ERR_GET_VOLUME)
        VOCORA_NAME(VOCORA_PLAY_ERR_SET_VOLUME)
        VOCORA_NAME(VOCORA_PLAY_ERR_WRITE)
        VOCORA_NAME(VOCORA_PLAY_ERR_UNLOCK)
        VOCORA_NAME(VOCORA_PLAY_ERR_PLAY)
        VOCORA_NAME(VOCORA_ERR_ZERO_BLOCK)
        VOCORA_NAME(VOCORA_PLAY_ERR_GET_POSITION)
        VOCORA_NAME(VOCORA_PLAY_ERR_SET_POSITION)
        VOCORA_NAME(VOCORA_PLAY_STAGING_LOW)
        VOCORA_NAME(VOCORA_PLAY_STAGING_HIGH)
#undef VOCORA_NAME
    }
    return "unknown";
}

const char* CaptureResultMeaning(uint32_t ulResult)
{
    switch (ulResult) {
    case VOCORA_ERR_RESOURCE:
        return "the capture notification event could not be created";
    case VOCORA_ERR_INVALID_ARG:
        return "the library refused an argument, or could not allocate the device";
    case VOCORA_ERR_NOT_AVAILABLE:
        return "capture is not available: DirectSound capture could not be loaded";
    case VOCORA_CAP_ERR_NO_INPUT_DEVICE:
        return "there is no audio input device, or its mixer has no microphone or line-in "
               "source";
    case VOCORA_CAP_ERR_MIXER_OPEN:
        return "the input device's mixer could not be opened (or the echo-cancelling engine "
               "could not be set up)";
    case VOCORA_CAP_ERR_MIXER_CAPS:
        return "the input device's mixer did not report its capabilities";
    case VOCORA_CAP_ERR_MIXER_LINE:
        return "the input device's mixer has no recording line to find the microphone on";
    case VOCORA_CAP_ERR_MIXER_CONTROLS:
        return "the microphone line has no volume control";
    case VOCORA_CAP_ERR_SET_MIC_VOLUME:
        return "the mixer refused the new microphone level";
    case VOCORA_CAP_ERR_GET_MIC_VOLUME:
        return "the mixer did not report the microphone level";
    case VOCORA_CAP_ERR_CREATE_CAPTURE:
        return "the DirectSound capture device could not be created";
    case VOCORA_CAP_ERR_CREATE_BUFFER:
        return "the capture device refused a buffer in this format (rate, channels, block)";
    case VOCORA_CAP_ERR_NOTIFY:
        return "the capture position notifications could not be set up";
    case VOCORA_CAP_ERR_START:
        return "the capture device or its thread would not start";
    case VOCORA_CAP_ERR_NO_OUTPUT_DEVICE:
        return "echo cancellation found no output device";
    case VOCORA_CAP_ERR_MANY_OUTPUT_DEVICES:
        return "echo cancellation found more than one output device";
    case VOCORA_ERR_ZERO_BLOCK:
        return "the block length works out to 0 bytes";
    default:
        return "";
    }
}
