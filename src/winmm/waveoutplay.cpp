#include "winmm/waveoutplay.h"

#include <cstring>

#include "common/func_macros.h"
#include "common/platform.h"
#include "log/log.h"

namespace {

constexpr UINT kulHeaderSize = sizeof(WAVEHDR);

// The busy mark is written by the platform's callback thread and read by the
// host's: each access is whole and ordered against the entry's data.
DWORD_PTR BusyMark(const WAVEHDR& stEntry)
{
    return __atomic_load_n(&stEntry.dwUser, __ATOMIC_ACQUIRE);
}

void SetBusyMark(WAVEHDR& stEntry, DWORD_PTR ulMark)
{
    __atomic_store_n(&stEntry.dwUser, ulMark, __ATOMIC_RELEASE);
}

DWORD EntryFlags(const WAVEHDR& stEntry)
{
    return __atomic_load_n(&stEntry.dwFlags, __ATOMIC_ACQUIRE);
}

}  // namespace

CWaveOutPlay::CWaveOutPlay() = default;

CWaveOutPlay::~CWaveOutPlay()
{
    try {
        if (Close() != VOCORA_OK) {
            // The device could not be reset, so it may still hold queued
            // entries, which live inside this object: let them play out and
            // come back before the device is closed and the object goes.
            if (WaitForEntriesBack(QueuedMilliseconds() + 2000)) {
                if (m_bEntriesAttached == 1) {
                    for (WAVEHDR& stEntry : m_astWaveHdr) {
                        Platform().pfnWaveOutUnprepareHeader(m_hWaveOut, &stEntry, kulHeaderSize);
                    }
                }
                Platform().pfnWaveOutClose(m_hWaveOut);
                FreeEntryBuffers();
            }
        }
    } catch (...) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::~CWaveOutPlay",
                   "release CWaveOutPlay object caught an execption");
    }
}

uint32_t CWaveOutPlay::Init(const AudioParam* pstAudioParam)
{
    m_ulChannels = pstAudioParam->ulChannels;
    m_ulBitsPerSample = pstAudioParam->ulBitsPerSample;
    m_ulSampleRate = pstAudioParam->ulSampleRate;
    // Each entry holds two blocks; a size that does not fit 32 bits cannot be had.
    m_ulBufferSize = pstAudioParam->ulDataLen <= UINT32_MAX / 2 ? 2 * pstAudioParam->ulDataLen : UINT32_MAX;
    return openWaveOutDevice();
}

uint32_t CWaveOutPlay::openWaveOutDevice()
{
    if (m_bEntriesAttached == 1) {
        return VOCORA_OK;
    }
    m_stWaveFormat = PcmWaveFormat(m_ulSampleRate, m_ulChannels, m_ulBitsPerSample);
    if (Platform().pfnWaveOutGetNumDevs() == 0) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::openWaveOutDevice",
                   "Error during audio device check, need WaveOut, system error is %d",
                   static_cast<int>(Platform().pfnGetLastError()));
        return VOCORA_PLAY_ERR_NO_DEVICE;
    }
    if (!IsPlainPcmFormat(m_ulSampleRate, m_ulChannels, m_ulBitsPerSample)) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::openWaveOutDevice", "failed to open waveout device");
        return VOCORA_PLAY_ERR_CREATE_DEVICE;
    }
    if (m_ulBufferSize == UINT32_MAX) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::openWaveOutDevice", "failed to malloc memory from system");
        return VOCORA_ERR_NO_MEMORY;
    }
    if (m_ulBufferSize == 0) {
        m_ulBufferSize = kulDefaultBufferSize;
    }
    for (WAVEHDR& stEntry : m_astWaveHdr) {
        stEntry.lpData = static_cast<LPSTR>(Platform().pfnMalloc(m_ulBufferSize));
        if (stEntry.lpData == nullptr) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::openWaveOutDevice",
                       "failed to malloc memory from system");
            Close();
            return VOCORA_ERR_NO_MEMORY;
        }
        stEntry.dwBufferLength = m_ulBufferSize;
        stEntry.dwBytesRecorded = 0;
        stEntry.dwUser = 0;
        stEntry.dwFlags = WHDR_DONE;
        stEntry.dwLoops = 0;
    }
    const MMRESULT ulResult = Platform().pfnWaveOutOpen(
        &m_hWaveOut, WAVE_MAPPER, &m_stWaveFormat, reinterpret_cast<DWORD_PTR>(&WaveOutProc), 0,
        CALLBACK_FUNCTION);
    if (ulResult != MMSYSERR_NOERROR) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::openWaveOutDevice",
                   "failed to open waveout device");
        m_hWaveOut = nullptr;
        Close();
        return VOCORA_PLAY_ERR_CREATE_DEVICE;
    }
    m_bDeviceOpen = 1;
    m_bEntriesAttached = 1;
    m_bStarted = 1;
    return VOCORA_OK;
}

uint32_t CWaveOutPlay::Start()
{
    m_bStarted = 1;
    return VOCORA_OK;
}

// Blocks already queued play out: the device is neither paused nor reset.
uint32_t CWaveOutPlay::Stop()
{
    m_bStarted = 0;
    return VOCORA_OK;
}

uint32_t CWaveOutPlay::Play(uint8_t* pucData, uint32_t ulLength)
{
    if (pucData == nullptr || ulLength == 0) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::Play", "Invalid parameter to function!");
        return VOCORA_ERR_INVALID_ARG;
    }
    if (m_bEntriesAttached != 1) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::Play",
                   "the waveout device isn't opened before playing wave data!");
        return VOCORA_PLAY_ERR_NOT_STARTED;
    }
    if (m_bStarted != 1) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::Play",
                   "the waveout device isn't started before playing wave data!");
        return VOCORA_PLAY_ERR_NOT_STARTED;
    }
    // waveOut has no volume of its own: the gain goes into the host's buffer.
    if (m_ulBitsPerSample == 16) {
        adjustPcmWave(pucData, ulLength, m_ulVolume);
    }
    return PlayWaveData(pucData, ulLength);
}

bool CWaveOutPlay::IsFree(const WAVEHDR& stEntry) const
{
    return BusyMark(stEntry) == 0 && (EntryFlags(stEntry) & WHDR_DONE) != 0;
}

void CWaveOutPlay::ReleaseEntry(WAVEHDR& stEntry)
{
    stEntry.dwFlags |= WHDR_DONE;
    SetBusyMark(stEntry, 0);
}

uint32_t CWaveOutPlay::PlayWaveData(const uint8_t* pucData, uint32_t ulLength)
{
    uint32_t ulIndex = 0;
    while (ulIndex < kulEntries && !IsFree(m_astWaveHdr[ulIndex])) {
        ++ulIndex;
    }
    if (ulIndex == kulEntries) {
        return VOCORA_PLAY_ERR_WRITE;  // every entry is queued; the host retries later
    }
    WAVEHDR& stEntry = m_astWaveHdr[ulIndex];
    if (ulLength > m_ulBufferSize) {
        ulLength = m_ulBufferSize;
    }
    if (Platform().pfnWaveOutUnprepareHeader(m_hWaveOut, &stEntry, kulHeaderSize) !=
        MMSYSERR_NOERROR) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::PlayWaveData",
                   "failed to waveOutUnprepareHeader memory controller entry [%u] to waveout device.",
                   ulIndex);
        return VOCORA_PLAY_ERR_WRITE;
    }
    std::memcpy(stEntry.lpData, pucData, ulLength);
    stEntry.dwBufferLength = ulLength;
    stEntry.dwFlags = 0;
    SetBusyMark(stEntry, 1);
    if (Platform().pfnWaveOutPrepareHeader(m_hWaveOut, &stEntry, kulHeaderSize) !=
        MMSYSERR_NOERROR) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::PlayWaveData",
                   "failed to waveOutPrepareHeader memory controller entry [%u] to waveout device.",
                   ulIndex);
        ReleaseEntry(stEntry);
        return VOCORA_PLAY_ERR_WRITE;
    }
    if (Platform().pfnWaveOutWrite(m_hWaveOut, &stEntry, kulHeaderSize) != MMSYSERR_NOERROR) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::PlayWaveData",
                   "failed to write memory controller entry [%u] to wave out device.", ulIndex);
        ReleaseEntry(stEntry);
        return VOCORA_PLAY_ERR_WRITE;
    }
    return VOCORA_OK;
}

uint32_t CWaveOutPlay::SetVolume(uint32_t ulVolume)
{
    m_ulVolume = ulVolume;
    return VOCORA_OK;
}

uint32_t CWaveOutPlay::GetVolume(int32_t* plVolume)
{
    *plVolume = static_cast<int32_t>(m_ulVolume);
    return VOCORA_OK;
}

void CALLBACK CWaveOutPlay::WaveOutProc(HWAVEOUT, UINT ulMessage, DWORD_PTR, DWORD_PTR ulParam1,
                                        DWORD_PTR)
{
    if (ulMessage == WOM_DONE) {
        SetBusyMark(*reinterpret_cast<WAVEHDR*>(ulParam1), 0);
    }
}

uint32_t CWaveOutPlay::Close()
{
    if (m_bDeviceOpen == 1) {
        // The reset hands every queued entry back before any is unprepared.
        if (Platform().pfnWaveOutReset(m_hWaveOut) != MMSYSERR_NOERROR) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::Close", "failed to reset waveout device.");
            return VOCORA_ERR_RESOURCE;
        }
        // The callback may still be on its way for the last entries.
        WaitForEntriesBack(1000);
        if (m_bEntriesAttached == 1) {
            for (uint32_t i = 0; i < kulEntries; ++i) {
                if (Platform().pfnWaveOutUnprepareHeader(m_hWaveOut, &m_astWaveHdr[i],
                                                         kulHeaderSize) != MMSYSERR_NOERROR) {
                    VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::Close",
                               "failed to detach memory controller entry [%u] to waveout device.", i);
                }
            }
            m_bEntriesAttached = 0;
        }
        if (Platform().pfnWaveOutClose(m_hWaveOut) != MMSYSERR_NOERROR) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::Close", "failed to close waveout device.");
        }
        m_hWaveOut = nullptr;
        m_bDeviceOpen = 0;
    }
    FreeEntryBuffers();
    VOCORA_LOG(VOCORA_LOG_INFO, "CWaveOutPlay::Close", "succeed to close waveout device");
    return VOCORA_OK;
}

void CWaveOutPlay::FreeEntryBuffers()
{
    for (WAVEHDR& stEntry : m_astWaveHdr) {
        if (stEntry.lpData != nullptr) {
            Platform().pfnFree(stEntry.lpData);
            stEntry.lpData = nullptr;
        }
    }
}

// Waits until the platform's callback has handed back every queued entry,
// for at most ulTimeoutMs; false if some never came back.
bool CWaveOutPlay::WaitForEntriesBack(uint32_t ulTimeoutMs)
{
    for (uint32_t ulWaited = 0;; ulWaited += 10) {
        bool bAllBack = true;
        for (const WAVEHDR& stEntry : m_astWaveHdr) {
            bAllBack = bAllBack && BusyMark(stEntry) == 0;
        }
        if (bAllBack) {
            return true;
        }
        if (ulWaited >= ulTimeoutMs) {
            return false;
        }
        Platform().pfnSleep(10);
    }
}

// As long as the queued audio takes to play, and a margin.
uint32_t CWaveOutPlay::QueuedMilliseconds() const
{
    uint64_t ullQueuedBytes = 0;
    for (const WAVEHDR& stEntry : m_astWaveHdr) {
        if (BusyMark(stEntry) != 0) {
            ullQueuedBytes += stEntry.dwBufferLength;
        }
    }
    const uint64_t ullBytesPerSecond =
        m_stWaveFormat.nAvgBytesPerSec != 0 ? m_stWaveFormat.nAvgBytesPerSec : 1;
    return static_cast<uint32_t>(ullQueuedBytes * 1000 / ullBytesPerSecond);
}
