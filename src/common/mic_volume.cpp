// The system microphone level through the winmm mixer of input device 0.
#include "common/func_macros.h"

#include <mutex>

#include "common/platform.h"
#include "log/log.h"
#include "vocora.h"

namespace {

// Open from the first read or write until a capture handle is destroyed or a
// mixer call fails; the control identifier is meaningful only while open.
HMIXER sm_hMixer = nullptr;
uint32_t sm_ulMicVolumeControlID = 0;
// Every capture handle, on any thread, shares the one mixer; a host's log
// callback may come back in from the thread that holds it.
std::recursive_mutex sm_mtxMixer;

constexpr uint32_t kulVolumeScale = 257;  // 255 * 257 = 65535

HMIXEROBJ MixerObject()
{
    return reinterpret_cast<HMIXEROBJ>(sm_hMixer);
}

// Closes the mixer; the handle is forgotten even when closing fails, which
// the caller reports in its own words.
bool CloseMixerHandle()
{
    const bool bClosed = Platform().pfnMixerClose(sm_hMixer) == MMSYSERR_NOERROR;
    sm_hMixer = nullptr;
    return bClosed;
}

// The volume control's one unsigned value, for a read or a write.
struct VolumeDetails {
    MIXERCONTROLDETAILS_UNSIGNED stValue = {};
    MIXERCONTROLDETAILS stDetails = {};

    VolumeDetails()
    {
        stDetails.cbStruct = sizeof stDetails;
        stDetails.dwControlID = sm_ulMicVolumeControlID;
        stDetails.cChannels = 1;
        stDetails.cMultipleItems = 0;
        stDetails.cbDetails = sizeof stValue;
        stDetails.paDetails = &stValue;
    }
};

void CloseMixerAfterLineFailure()
{
    if (!CloseMixerHandle()) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "GetLineInfo",
                   "close waveform-audio input device handle by Windows API failed.");
    }
}

}  // namespace

uint32_t GetLineInfo()
{
    std::lock_guard<std::recursive_mutex> oLock(sm_mtxMixer);
    const UINT ulInputDevices = Platform().pfnWaveInGetNumDevs();
    if (ulInputDevices == 0) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "GetLineInfo",
                   "the number of waveform-audio input devices present in the system is zero.");
        return VOCORA_CAP_ERR_NO_INPUT_DEVICE;
    }
    if (ulInputDevices > 1) {
        VOCORA_LOG(VOCORA_LOG_WARNING, "GetLineInfo",
                   "the number of waveform-audio input devices present in the system is greater than 1.");
    }
    MMRESULT ulResult = Platform().pfnMixerOpen(&sm_hMixer, 0, 0, 0, MIXER_OBJECTF_WAVEIN);
    if (ulResult != MMSYSERR_NOERROR) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "GetLineInfo",
                   "open handle of waveform-audio input device by Windows API failed, error(%d)",
                   static_cast<int>(ulResult));
        sm_hMixer = nullptr;
        return VOCORA_CAP_ERR_MIXER_OPEN;
    }
    MIXERCAPSW stCaps = {};
    ulResult = Platform().pfnMixerGetDevCapsW(reinterpret_cast<UINT_PTR>(sm_hMixer), &stCaps,
                                              sizeof stCaps);
    if (ulResult != MMSYSERR_NOERROR) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "GetLineInfo",
                   "query capabilities of waveform-audio input device by Windows API failed, error(%d)",
                   static_cast<int>(ulResult));
        if (!CloseMixerHandle()) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "GetLineInfo",
                       "close waveform-audio input device handle by Windows API Failed.");
        }
        return VOCORA_CAP_ERR_MIXER_CAPS;
    }
    MIXERLINEW stDestination = {};
    stDestination.cbStruct = sizeof stDestination;
    stDestination.dwComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    ulResult = Platform().pfnMixerGetLineInfoW(
        MixerObject(), &stDestination, MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_COMPONENTTYPE);
    if (ulResult != MMSYSERR_NOERROR) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "GetLineInfo",
                   "get information of waveform-audio input device's line by Windows API failed, error(%d)",
                   static_cast<int>(ulResult));
        CloseMixerAfterLineFailure();
        return VOCORA_CAP_ERR_MIXER_LINE;
    }
    // The first microphone or line-in source wins, whichever comes first.
    MIXERLINEW stSource = {};
    bool bFound = false;
    for (DWORD i = 0; i < stDestination.cConnections && !bFound; ++i) {
        stSource = {};
        stSource.cbStruct = sizeof stSource;
        stSource.dwDestination = stDestination.dwDestination;
        stSource.dwSource = i;
        if (Platform().pfnMixerGetLineInfoW(MixerObject(), &stSource,
                                            MIXER_OBJECTF_HMIXER | MIXER_GETLINEINFOF_SOURCE) !=
            MMSYSERR_NOERROR) {
            continue;
        }
        bFound = stSource.dwComponentType == MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE ||
                 stSource.dwComponentType == MIXERLINE_COMPONENTTYPE_SRC_LINE;
    }
    if (!bFound) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "GetLineInfo", "mic volume component is not exist.");
        CloseMixerAfterLineFailure();
        return VOCORA_CAP_ERR_NO_INPUT_DEVICE;
    }
    MIXERCONTROLW stControl = {};
    stControl.cbStruct = sizeof stControl;
    MIXERLINECONTROLSW stControls = {};
    stControls.cbStruct = sizeof stControls;
    stControls.dwLineID = stSource.dwLineID;
    stControls.dwControlType = MIXERCONTROL_CONTROLTYPE_VOLUME;
    stControls.cControls = 1;
    stControls.cbmxctrl = sizeof stControl;
    stControls.pamxctrl = &stControl;
    ulResult = Platform().pfnMixerGetLineControlsW(
        MixerObject(), &stControls, MIXER_OBJECTF_HMIXER | MIXER_GETLINECONTROLSF_ONEBYTYPE);
    if (ulResult != MMSYSERR_NOERROR) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "GetLineInfo",
                   "get controls of audio line by Windows API failed, error(%d)",
                   static_cast<int>(ulResult));
        CloseMixerAfterLineFailure();
        return VOCORA_CAP_ERR_MIXER_CONTROLS;
    }
    sm_ulMicVolumeControlID = stControl.dwControlID;
    return VOCORA_OK;
}

uint32_t GetMicVolume(uint32_t* pulVolume)
{
    std::lock_guard<std::recursive_mutex> oLock(sm_mtxMixer);
    if (sm_hMixer == nullptr) {
        const uint32_t ulResult = GetLineInfo();
        if (ulResult != VOCORA_OK) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "GetMicVolume",
                       "Failed, get mic volume line information failed");
            return ulResult;
        }
    }
    VolumeDetails stVolume;
    const MMRESULT ulResult = Platform().pfnMixerGetControlDetailsW(
        MixerObject(), &stVolume.stDetails, MIXER_OBJECTF_HMIXER | MIXER_GETCONTROLDETAILSF_VALUE);
    if (ulResult != MMSYSERR_NOERROR) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "GetMicVolume",
                   "Failed, get system mic volume by Windows API failed, error(%d)",
                   static_cast<int>(ulResult));
        if (!CloseMixerHandle()) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "GetMicVolume",
                       "Failed, close waveform-audio input device handle by Windows API failed.");
        }
        return VOCORA_CAP_ERR_GET_MIC_VOLUME;
    }
    *pulVolume = stVolume.stValue.dwValue / kulVolumeScale;
    return VOCORA_OK;
}

uint32_t SetMicVolume(uint32_t ulVolume)
{
    std::lock_guard<std::recursive_mutex> oLock(sm_mtxMixer);
    if (sm_hMixer == nullptr) {
        const uint32_t ulResult = GetLineInfo();
        if (ulResult != VOCORA_OK) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "SetMicVolume",
                       "Failed, get mic volume line information Failed");
            return ulResult;
        }
    }
    // No range check: the mixer's answer decides about values above 255.
    VolumeDetails stVolume;
    stVolume.stValue.dwValue = ulVolume * kulVolumeScale;
    const MMRESULT ulResult = Platform().pfnMixerSetControlDetails(
        MixerObject(), &stVolume.stDetails, MIXER_OBJECTF_HMIXER | MIXER_SETCONTROLDETAILSF_VALUE);
    if (ulResult != MMSYSERR_NOERROR) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "SetMicVolume",
                   "Failed, set system mic volume by Windows API Failed, Error:[%d].",
                   static_cast<int>(ulResult));
        if (!CloseMixerHandle()) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "SetMicVolume",
                       "Failed, close waveform-audio input device handle by Windows API Failed.");
        }
        return VOCORA_CAP_ERR_SET_MIC_VOLUME;
    }
    return VOCORA_OK;
}

uint32_t CloseMixer()
{
    std::lock_guard<std::recursive_mutex> oLock(sm_mtxMixer);
    if (sm_hMixer != nullptr && !CloseMixerHandle()) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CloseMixer",
                   "Audio_GetMicVolume fail, close waveform-audio input device handle by Windows API failed.");
    }
    return VOCORA_OK;
}
