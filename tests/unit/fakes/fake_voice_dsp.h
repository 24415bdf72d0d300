// The voice-capture DSP, one object behind IMediaObject and IPropertyStore:
// it logs every property written and read back and the output type it was
// given, answers from a script, and produces output from a queue of steps
// into whatever IMediaBuffer it is handed, as a real DMO does.
#ifndef VOCORA_TESTS_FAKE_VOICE_DSP_H
#define VOCORA_TESTS_FAKE_VOICE_DSP_H

#include <windows.h>
#include <mmsystem.h>
#include <mediaobj.h>
#include <propsys.h>

#include <atomic>
#include <deque>
#include <map>
#include <string>
#include <vector>

// One ProcessOutput: its result, the bytes it writes, whether more is waiting.
struct DspStep {
    HRESULT hr;
    DWORD ulBytes;
    bool bIncomplete;
};

class CFakeVoiceDsp : public IMediaObject, public IPropertyStore {
public:
    // Scripted results.
    HRESULT m_hrCreate = S_OK;  // CoCreateInstance of the class
    HRESULT m_hrQueryProperties = S_OK;
    std::map<DWORD, HRESULT> m_mapSetFailures;  // by property id
    std::map<DWORD, HRESULT> m_mapGetFailures;
    HRESULT m_hrSetOutputType = S_OK;
    HRESULT m_hrAllocate = S_OK;
    std::deque<DspStep> m_dqSteps;  // empty: S_FALSE, nothing ready

    // What it was told, in order: "set 2 vt3 0", "get 2", "type", "alloc"
    // (for the DSP's own property set; any other key is logged as "foreign").
    std::vector<std::string> m_vecCalls;
    DMO_MEDIA_TYPE m_stOutputType = {};  // pbFormat cleared; the format is below
    WAVEFORMATEX m_stOutputFormat = {};
    int m_iPulls = 0;                         // ProcessOutput calls
    std::vector<const BYTE*> m_vecWrittenAt;  // where each step wrote
    size_t Produced() const { return m_ulProduced; }
    // The byte the fake produced at stream position ulPosition.
    static BYTE ByteAt(size_t ulPosition) { return static_cast<BYTE>(ulPosition * 13 + 5); }
    LONG References() const { return m_lRefs; }

    // What CoCreateInstance hands out for the class.
    HRESULT Create(REFIID riid, void** ppv);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_lRefs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--m_lRefs); }
    // IMediaObject
    HRESULT STDMETHODCALLTYPE GetStreamCount(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputStreamInfo(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputStreamInfo(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputType(DWORD, DWORD, DMO_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputType(DWORD, DWORD, DMO_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetInputType(DWORD, const DMO_MEDIA_TYPE*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOutputType(DWORD ulStream, const DMO_MEDIA_TYPE* pstType,
                                            DWORD ulFlags) override;
    HRESULT STDMETHODCALLTYPE GetInputCurrentType(DWORD, DMO_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputCurrentType(DWORD, DMO_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputSizeInfo(DWORD, DWORD*, DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetOutputSizeInfo(DWORD, DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputMaxLatency(DWORD, REFERENCE_TIME*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetInputMaxLatency(DWORD, REFERENCE_TIME) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Flush() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Discontinuity(DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AllocateStreamingResources() override;
    HRESULT STDMETHODCALLTYPE FreeStreamingResources() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetInputStatus(DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessInput(DWORD, IMediaBuffer*, DWORD, REFERENCE_TIME,
                                           REFERENCE_TIME) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD ulFlags, DWORD ulCount,
                                            DMO_OUTPUT_DATA_BUFFER* pstBuffers,
                                            DWORD* pulStatus) override;
    HRESULT STDMETHODCALLTYPE Lock(LONG) override { return E_NOTIMPL; }
    // IPropertyStore
    HRESULT STDMETHODCALLTYPE GetCount(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD, PROPERTYKEY*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY stKey, PROPVARIANT* pstValue) override;
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY stKey, REFPROPVARIANT stValue) override;
    HRESULT STDMETHODCALLTYPE Commit() override { return E_NOTIMPL; }

private:
    LONG m_lRefs = 0;
    std::map<DWORD, PROPVARIANT> m_mapValues;
    size_t m_ulProduced = 0;
};

// A DSP that always has 10 ms of 16 kHz mono ready, as a running one does:
// for the timer road under Wine and for timing the tick. Heap objects that
// count their references across threads and delete themselves.
class CStreamingVoiceDsp final : public CFakeVoiceDsp {
public:
    static constexpr DWORD kulBytesPerPull = 320;
    static std::atomic<int> sm_iLive;  // objects not yet deleted

    CStreamingVoiceDsp() { ++sm_iLive; }
    ~CStreamingVoiceDsp() { --sm_iLive; }

    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++m_lStreamRefs); }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE ProcessOutput(DWORD ulFlags, DWORD ulCount,
                                            DMO_OUTPUT_DATA_BUFFER* pstBuffers,
                                            DWORD* pulStatus) override;

    // A new object, queried for riid, for a class factory.
    static HRESULT CreateInstance(REFIID riid, void** ppv);

private:
    std::atomic<LONG> m_lStreamRefs{0};
    size_t m_ulStreamed = 0;
};

#endif
