#include "aec/aceaudiocapture.h"

#include <new>

#include "aec/aec_ids.h"
#include "common/func_macros.h"
#include "log/log.h"

CAecAudioCapture::CAecAudioCapture() = default;

CAecAudioCapture::~CAecAudioCapture()
{
    try {
        Close();
    } catch (...) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CAecAudioCapture::~CAecAudioCapture",
                   "object delete Failed, catch unknown exceptions.");
    }
}

uint32_t CAecAudioCapture::Init(const AudioParam* pstAudioParam)
{
    // The voice-capture DSP delivers mono only.
    if (pstAudioParam->ulChannels != 1) {
        return VOCORA_ERR_INVALID_ARG;
    }
    // A format the DSP cannot take is refused as its set-up would refuse it.
    if (!IsPlainPcmFormat(pstAudioParam->ulSampleRate, 1, pstAudioParam->ulBitsPerSample)) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CAecAudioCapture::Init", "CCoreAudioCapture::CreateDec Failed, Error:[0x%x].",
                   static_cast<unsigned>(DMO_E_TYPE_NOT_ACCEPTED));
        return VOCORA_CAP_ERR_MIXER_OPEN;
    }
    Close();  // an engine from an earlier Init goes first
    m_poAecMicCapture = new (std::nothrow) CAecMicArrayCapture();
    if (m_poAecMicCapture == nullptr) {
        VOCORA_LOG_NULL("CAecAudioCapture::Init", "m_poAecMicCapture");
        return VOCORA_ERR_INVALID_ARG;
    }
    m_ulChannels = pstAudioParam->ulChannels;
    m_ulBitsPerSample = pstAudioParam->ulBitsPerSample;
    m_ulSampleRate = pstAudioParam->ulSampleRate;

    // The census runs on the engine's own endpoint lists.
    m_poAecMicCapture->EnumDevices();
    if (m_poAecMicCapture->GetCaptureDeviceCount() == 0) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CAecAudioCapture::Init",
                   "AecAudio: The Number of Waveform-audio Input Devices Present in The System is Zero.");
        return VOCORA_CAP_ERR_NO_INPUT_DEVICE;
    }
    m_poAecMicCapture->SelectDefaultCaptureDevice();
    const uint32_t ulRenderDevices = m_poAecMicCapture->GetRenderDeviceCount();
    if (ulRenderDevices == 0) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CAecAudioCapture::Init",
                   "AecAudio: The Number of Waveform-audio Output Devices Present in The System is Zero.");
        return VOCORA_CAP_ERR_NO_OUTPUT_DEVICE;
    }
    if (ulRenderDevices != 1) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CAecAudioCapture::Init",
                   "AecAudio: The Number of Waveform-audio Output Devices Present in The System is More Than 1.");
        return VOCORA_CAP_ERR_MANY_OUTPUT_DEVICES;
    }
    m_poAecMicCapture->SetRenderDeviceIndex(0);
    m_poAecMicCapture->SetAecMode(kulSingleChannelAec, m_ulSampleRate);
    m_poAecMicCapture->AddEventSink(this);
    const auto lResult = static_cast<int32_t>(
        m_poAecMicCapture->Init(m_ulChannels, m_ulSampleRate, m_ulBitsPerSample, 0));
    if (lResult < 0) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CAecAudioCapture::Init",
                   "CCoreAudioCapture::CreateDec Failed, Error:[0x%x].", static_cast<unsigned>(lResult));
        return VOCORA_CAP_ERR_MIXER_OPEN;
    }
    return VOCORA_OK;
}

// Without its timer the engine would never deliver: the owner hears of it, so
// that another device can stand in.
uint32_t CAecAudioCapture::Start()
{
    if (m_poAecMicCapture == nullptr) {
        return VOCORA_OK;
    }
    m_poAecMicCapture->Start();
    if (!m_poAecMicCapture->IsRunning()) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CAecAudioCapture::Start",
                   "CAecAudioCapture::Start Failed, the processing timer could not be created.");
        return VOCORA_CAP_ERR_START;
    }
    return VOCORA_OK;
}

uint32_t CAecAudioCapture::Stop()
{
    if (m_poAecMicCapture != nullptr) {
        m_poAecMicCapture->Stop();
    }
    return VOCORA_OK;
}

// The engine is deleted only after its timer has stopped, so no event can
// reach a deleted engine or front.
uint32_t CAecAudioCapture::Close()
{
    Stop();
    if (m_poAecMicCapture != nullptr) {
        delete m_poAecMicCapture;
        m_poAecMicCapture = nullptr;
    }
    return VOCORA_OK;
}

// A stored volume of zero or less (read as signed) closes the gate.
uint32_t CAecAudioCapture::OnCaptureData(const uint8_t* pucData, uint32_t ulLength, uint32_t,
                                         uint32_t)
{
    const CWorkerThread::Scope oWorker(m_oWorker);
    if (m_bMicLost.exchange(false)) {
        VOCORA_LOG(VOCORA_LOG_INFO, "CAecAudioCapture::OnCaptureData", "CaptureThread the device captures again.");
    }
    const CCaptureTarget::Call oDeliver = m_oCaptureTarget.Current();
    if (static_cast<int32_t>(m_oCaptureTarget.Volume()) > 0 && oDeliver && pucData != nullptr) {
        oDeliver(pucData, ulLength);
    }
    return VOCORA_OK;
}

// Called on the timer thread, once for each loss: the engine keeps ticking
// and sets the DSP up anew once the microphone is back.
uint32_t CAecAudioCapture::OnMicDisConnect()
{
    m_bMicLost = true;
    VOCORA_LOG(VOCORA_LOG_ERROR, "CAecAudioCapture::OnMicDisConnect",
               "CaptureThread Fail, ulWaveinDevNums not Exist.");
    return VOCORA_OK;
}

uint32_t AecAudioCaptureProbe()
{
    CAecAudioCapture* poProbe = new (std::nothrow) CAecAudioCapture();
    if (poProbe == nullptr) {
        return VOCORA_ERR_RESOURCE;
    }
    const AudioParam stProbe = {8000, 1, 16, 0};
    const uint32_t ulResult = poProbe->Init(&stProbe);
    delete poProbe;
    return ulResult;
}
