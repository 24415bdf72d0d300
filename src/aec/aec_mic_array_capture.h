// The voice-capture engine: runs the platform's echo-cancelling DSP in its
// source mode (it records the microphone and listens to the loudspeaker
// itself) and, on a 10 ms multimedia timer, pulls the finished output and
// hands it to its event sink. It also keeps the endpoint lists the DSP's
// device indexes refer to.
#ifndef VOCORA_AEC_AEC_MIC_ARRAY_CAPTURE_H
#define VOCORA_AEC_AEC_MIC_ARRAY_CAPTURE_H

#include <windows.h>
#include <mmsystem.h>
#include <dmo.h>

#include <cstdint>
#include <atomic>

#include "aec/endpoint_lookup.h"
#include "aec/media_buffer.h"
#include "common/platform.h"

// What the engine reports to its owner, on the timer thread.
class IAecCaptureEvent {
public:
    virtual ~IAecCaptureEvent() = default;
    virtual uint32_t OnCaptureData(const uint8_t* pucData, uint32_t ulLength, uint32_t ulSampleRate,
                                   uint32_t ulFlag) = 0;
    virtual uint32_t OnMicDisConnect() = 0;
};

class IAecCapture {
public:
    virtual ~IAecCapture() = default;
    virtual uint32_t AddRef() = 0;
    virtual uint32_t Release() = 0;
    virtual uint32_t Uninit() = 0;
    virtual uint32_t EnumDevices() = 0;
    virtual uint32_t GetCaptureDeviceCount() = 0;
    virtual uint32_t SelectCaptureDeviceByName(const char* pszName) = 0;
    virtual uint32_t SetCaptureDeviceIndex(uint32_t ulIndex) = 0;
    virtual uint32_t GetRenderDeviceCount() = 0;
    virtual uint32_t GetRenderDeviceName(uint32_t ulIndex, char* pszName) = 0;
    virtual uint32_t SelectRenderDeviceByName(const char* pszName) = 0;
    virtual uint32_t SetRenderDeviceIndex(int32_t lIndex) = 0;
    virtual uint32_t SetAecMode(uint32_t ulMode, uint32_t ulSampleRate) = 0;
    virtual uint32_t Init(uint32_t ulChannels, uint32_t ulSamplesPerSec, uint32_t ulBitsPerSample,
                          uint32_t ulFrameSize) = 0;
    virtual uint32_t ReadCaptureData(uint8_t* pucData, uint32_t* pulSize) = 0;
    virtual uint32_t Start() = 0;
    virtual uint32_t Stop() = 0;
    virtual uint32_t AddEventSink(IAecCaptureEvent* poSink) = 0;
    virtual uint32_t RemoveEventSink(IAecCaptureEvent* poSink) = 0;
    virtual uint32_t IsDeviceChanged() = 0;
};

class CAecMicArrayCapture : public IAecCapture, public CPlatformAllocated {
public:
    static constexpr uint32_t kulOutputBufferSize = 32000;
    static constexpr UINT kulTimerPeriodMs = 10;
    static constexpr UINT kulTimerResolutionMs = 20;
    // A DSP silent this long has lost its device; it is set up anew this often.
    static constexpr DWORD kulSilentMs = 1000;
    static constexpr DWORD kulRetryMs = 500;

    CAecMicArrayCapture();
    ~CAecMicArrayCapture() override;
    CAecMicArrayCapture(const CAecMicArrayCapture&) = delete;
    CAecMicArrayCapture& operator=(const CAecMicArrayCapture&) = delete;

    uint32_t AddRef() override;
    uint32_t Release() override;
    uint32_t Uninit() override;
    uint32_t EnumDevices() override;
    uint32_t GetCaptureDeviceCount() override;
    uint32_t SelectCaptureDeviceByName(const char* pszName) override;
    uint32_t SetCaptureDeviceIndex(uint32_t ulIndex) override;
    uint32_t GetRenderDeviceCount() override;
    uint32_t GetRenderDeviceName(uint32_t ulIndex, char* pszName) override;
    uint32_t SelectRenderDeviceByName(const char* pszName) override;
    uint32_t SetRenderDeviceIndex(int32_t lIndex) override;
    uint32_t SetAecMode(uint32_t ulMode, uint32_t ulSampleRate) override;
    uint32_t Init(uint32_t ulChannels, uint32_t ulSamplesPerSec, uint32_t ulBitsPerSample,
                  uint32_t ulFrameSize) override;
    uint32_t ReadCaptureData(uint8_t* pucData, uint32_t* pulSize) override;
    uint32_t Start() override;
    uint32_t Stop() override;
    uint32_t AddEventSink(IAecCaptureEvent* poSink) override;
    uint32_t RemoveEventSink(IAecCaptureEvent* poSink) override;
    uint32_t IsDeviceChanged() override;
    // Whether the processing timer runs: Start reports no failure of its own.
    bool IsRunning() const { return m_uiTimerId != 0; }
    virtual uint32_t SelectDefaultCaptureDevice();

    // One tick: everything the DSP has ready, in one block to the sink.
    uint32_t ProcessCapture();
    static void CALLBACK AecTimerProc(UINT uiTimerId, UINT ulMessage, DWORD_PTR ulUser,
                                      DWORD_PTR ulReserved1, DWORD_PTR ulReserved2);

private:
    void ReleaseDmo();
    uint32_t SetUpDsp();
    void ReportLoss(DWORD ulNow);
    bool Reopen(DWORD ulNow);
    void UpdateSingleSink();
    HRESULT WriteProperty(IPropertyStore* pProperties, const PROPERTYKEY& stKey, VARTYPE usType,
                          int32_t lValue);
    HRESULT SetOutputType(uint32_t ulChannels, uint32_t ulSamplesPerSec, uint32_t ulBitsPerSample);
    // Where the DSP writes next: ulRoom bytes at pucAt.
    void PointMediaBuffer(uint8_t* pucAt, uint32_t ulRoom);
    // One ProcessOutput into the media buffer; S_OK with *pulProduced.
    HRESULT PullOutput(uint32_t* pulProduced);
    static int32_t FindByName(const AecEndpointInfo* pstRecords, uint32_t ulCount,
                              const char* pszName);

    LONG m_lRefCount = 1;
    IAecCaptureEvent* m_poEventSink = nullptr;
    // The registered sinks, ordered by address, each once; a fixed set, so
    // that registering never allocates (nor throws).
    static constexpr size_t kulMaxSinks = 4;
    IAecCaptureEvent* m_apoEventSinks[kulMaxSinks] = {};
    size_t m_ulEventSinks = 0;
    AecEndpointInfo* m_pstCaptureDevices = nullptr;
    AecEndpointInfo* m_pstRenderDevices = nullptr;
    uint32_t m_ulCaptureDeviceNums = 0;
    uint32_t m_ulRenderDeviceNums = 0;
    int32_t m_lCaptureDeviceIndex = -1;
    int32_t m_lRenderDeviceIndex = -1;
    int32_t m_lAppliedCaptureIndex = -2;
    int32_t m_lAppliedRenderIndex = -2;
    uint32_t m_ulAecMode = 0;
    uint32_t m_ulSampleRate = 16000;
    uint32_t m_bCenterClip = 0;
    uint32_t m_bAgc = 0;
    uint32_t m_ulNoiseSuppress = 0;
    uint32_t m_bFeatureMode = 1;
    std::atomic<UINT> m_uiTimerId{0};
    struct DspFormat {
        uint32_t ulChannels;
        uint32_t ulSamplesPerSec;
        uint32_t ulBitsPerSample;
        uint32_t ulFrameSize;
    } m_stDspFormat = {};             // what the DSP is set up for
    bool m_bLost = false;             // the ticks' own, like the three below
    DWORD m_ulLastOutput = 0;
    DWORD m_ulLastTry = 0;
    IMediaObject* m_pMediaObject = nullptr;
    CPlatformBuffer m_pucOutputBuffer;
    CStaticMediaBuffer m_oMediaBuffer;
    DMO_OUTPUT_DATA_BUFFER m_stOutputDataBuffer = {};
};

#endif
