#include "winmm/waveoutplay.h"

#include <cstring>
#include <mutex>
#include <new>
#include <utility>

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

void ReleaseEntry(WAVEHDR& stEntry)
{
    stEntry.dwFlags |= WHDR_DONE;
    SetBusyMark(stEntry, 0);
}

std::mutex sm_mtxLeftRings;
CWaveOutRing* sm_poLeftRings = nullptr;

// Frees the ring now when its device lets go of it, or keeps it for later.
void LeaveRing(CWaveOutRing* poRing)
{
    if (poRing->Release(false)) {
        poRing->FreeBuffers();
        delete poRing;
        return;
    }
    std::lock_guard<std::mutex> oLock(sm_mtxLeftRings);
    poRing->poNextLeft = std::exchange(sm_poLeftRings, poRing);
}

}  // namespace

bool CWaveOutRing::IsFree(uint32_t ulIndex) const
{
    return BusyMark(astEntries[ulIndex]) == 0 && (EntryFlags(astEntries[ulIndex]) & WHDR_DONE) != 0;
}

bool CWaveOutRing::AllBack() const
{
    for (const WAVEHDR& stEntry : astEntries) {
        if (BusyMark(stEntry) != 0) {
            return false;
        }
    }
    return true;
}

// Waits until the platform's callback has handed back every queued entry,
// for at most ulTimeoutMs.
void CWaveOutRing::WaitBack(uint32_t ulTimeoutMs) const
{
    for (uint32_t ulWaited = 0; !AllBack() && ulWaited < ulTimeoutMs; ulWaited += 10) {
        Platform().pfnSleep(10);
    }
}

bool CWaveOutRing::Release(bool bReport)
{
    if (bEntriesAttached) {
        for (uint32_t i = 0; i < kulEntries; ++i) {
            if (Platform().pfnWaveOutUnprepareHeader(hWaveOut, &astEntries[i], kulHeaderSize) != MMSYSERR_NOERROR &&
                bReport) {
                VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::Close",
                           "failed to detach memory controller entry [%u] to waveout device.", i);
            }
        }
        bEntriesAttached = false;
    }
    if (bDeviceOpen) {
        const MMRESULT ulResult = Platform().pfnWaveOutClose(hWaveOut);
        if (ulResult != MMSYSERR_NOERROR && bReport) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::Close", "failed to close waveout device.");
        }
        // A device that keeps playing refuses to close: its entries stay.
        if (ulResult == WAVERR_STILLPLAYING && !bReport) {
            return false;
        }
        hWaveOut = nullptr;
        bDeviceOpen = false;
    }
    return true;
}

void CWaveOutRing::FreeBuffers()
{
    for (WAVEHDR& stEntry : astEntries) {
        if (stEntry.lpData != nullptr) {
            Platform().pfnFree(stEntry.lpData);
            stEntry.lpData = nullptr;
        }
    }
}

void WaveOutReleaseLeftRings()
{
    std::lock_guard<std::mutex> oLock(sm_mtxLeftRings);
    for (CWaveOutRing** ppoAt = &sm_poLeftRings; *ppoAt != nullptr;) {
        CWaveOutRing* poRing = *ppoAt;
        Platform().pfnWaveOutReset(poRing->hWaveOut);
        if (poRing->Release(false)) {
            *ppoAt = poRing->poNextLeft;
            poRing->FreeBuffers();
            delete poRing;
        } else {
            ppoAt = &poRing->poNextLeft;
        }
    }
}

CWaveOutPlay::CWaveOutPlay() = default;

CWaveOutPlay::~CWaveOutPlay()
{
    try {
        if (Close() != VOCORA_OK) {
            // The device could not be reset, so it may still hold queued
            // entries: they get the time one more entry takes to play out,
            // and the ring stays behind if they are not back by then.
            m_poRing->WaitBack(2000 + BlockMilliseconds(m_ulBufferSize));
            LeaveRing(std::exchange(m_poRing, nullptr));
        }
    } catch (...) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::~CWaveOutPlay",
                   "release CWaveOutPlay object caught an execption");
    }
}

uint32_t CWaveOutPlay::Init(const AudioParam* pstAudioParam)
{
    WaveOutReleaseLeftRings();
    m_ulChannels = pstAudioParam->ulChannels;
    m_ulBitsPerSample = pstAudioParam->ulBitsPerSample;
    m_ulSampleRate = pstAudioParam->ulSampleRate;
    // Each entry holds two blocks; a size that does not fit 32 bits cannot be had.
    m_ulBufferSize = pstAudioParam->ulDataLen <= UINT32_MAX / 2 ? 2 * pstAudioParam->ulDataLen : UINT32_MAX;
    return openWaveOutDevice();
}

// Reopening after a loss reports nothing until it succeeds.
uint32_t CWaveOutPlay::openWaveOutDevice()
{
    if (m_poRing != nullptr && m_poRing->bEntriesAttached) {
        return VOCORA_OK;
    }
    const bool bReport = !m_bLost;
    const auto fnFail = [&](const char* pszMessage, uint32_t ulResult) {
        if (bReport) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::openWaveOutDevice", pszMessage);
            Close();
        } else if (m_poRing != nullptr) {
            m_poRing->FreeBuffers();
            delete std::exchange(m_poRing, nullptr);
        }
        return ulResult;
    };
    m_stWaveFormat = PcmWaveFormat(m_ulSampleRate, m_ulChannels, m_ulBitsPerSample);
    if (Platform().pfnWaveOutGetNumDevs() == 0) {
        if (bReport) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::openWaveOutDevice",
                       "Error during audio device check, need WaveOut, system error is %d",
                       static_cast<int>(Platform().pfnGetLastError()));
        }
        return VOCORA_PLAY_ERR_NO_DEVICE;
    }
    if (!IsPlainPcmFormat(m_ulSampleRate, m_ulChannels, m_ulBitsPerSample)) {
        return fnFail("failed to open waveout device", VOCORA_PLAY_ERR_CREATE_DEVICE);
    }
    if (m_ulBufferSize == UINT32_MAX) {
        return fnFail("failed to malloc memory from system", VOCORA_ERR_NO_MEMORY);
    }
    if (m_ulBufferSize == 0) {
        m_ulBufferSize = kulDefaultBufferSize;
    }
    m_poRing = new (std::nothrow) CWaveOutRing();
    if (m_poRing == nullptr) {
        return fnFail("failed to malloc memory from system", VOCORA_ERR_NO_MEMORY);
    }
    for (WAVEHDR& stEntry : m_poRing->astEntries) {
        stEntry.lpData = static_cast<LPSTR>(Platform().pfnMalloc(m_ulBufferSize));
        if (stEntry.lpData == nullptr) {
            return fnFail("failed to malloc memory from system", VOCORA_ERR_NO_MEMORY);
        }
        stEntry.dwBufferLength = m_ulBufferSize;
        stEntry.dwBytesRecorded = 0;
        stEntry.dwUser = 0;
        stEntry.dwFlags = WHDR_DONE;
        stEntry.dwLoops = 0;
    }
    const MMRESULT ulResult = Platform().pfnWaveOutOpen(
        &m_poRing->hWaveOut, WAVE_MAPPER, &m_stWaveFormat, reinterpret_cast<DWORD_PTR>(&WaveOutProc), 0,
        CALLBACK_FUNCTION);
    if (ulResult != MMSYSERR_NOERROR) {
        m_poRing->hWaveOut = nullptr;
        return fnFail("failed to open waveout device", VOCORA_PLAY_ERR_CREATE_DEVICE);
    }
    m_poRing->bDeviceOpen = true;
    m_poRing->bEntriesAttached = true;
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
    if ((m_bLost || IsOverdue()) && Reopen() != VOCORA_OK) {
        return VOCORA_PLAY_ERR_NOT_STARTED;
    }
    if (m_poRing == nullptr || !m_poRing->bEntriesAttached) {
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

// A device that has gone away keeps every entry it was given.
bool CWaveOutPlay::IsOverdue() const
{
    const DWORD ulNow = GetTickCount();
    for (uint32_t i = 0; m_poRing != nullptr && i < kulEntries; ++i) {
        if (BusyMark(m_poRing->astEntries[i]) != 0 &&
            static_cast<int32_t>(ulNow - m_poRing->aulDueAt[i]) > static_cast<int32_t>(kulOverdueMs)) {
            return true;
        }
    }
    return false;
}

// The ring the device will not hand back stays behind it; a new one goes to
// a new device. Reported once, tried at most every half second.
uint32_t CWaveOutPlay::Reopen()
{
    if (!m_bLost) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::Play",
                   "the waveout device has stopped handing back memory controller entries, reopening it.");
        m_bLost = true;
        m_ulLastTry = GetTickCount() - kulRetryMs;
    }
    if (GetTickCount() - m_ulLastTry < kulRetryMs) {
        return VOCORA_PLAY_ERR_NOT_STARTED;
    }
    m_ulLastTry = GetTickCount();
    if (m_poRing != nullptr) {
        Platform().pfnWaveOutReset(m_poRing->hWaveOut);
        LeaveRing(std::exchange(m_poRing, nullptr));
    }
    const uint32_t ulStarted = m_bStarted;
    const uint32_t ulResult = openWaveOutDevice();
    m_bStarted = ulStarted;
    if (ulResult == VOCORA_OK) {
        m_bLost = false;
        VOCORA_LOG(VOCORA_LOG_INFO, "CWaveOutPlay::Play", "the waveout device is open again.");
    }
    return ulResult;
}

uint32_t CWaveOutPlay::PlayWaveData(const uint8_t* pucData, uint32_t ulLength)
{
    uint32_t ulIndex = 0;
    while (ulIndex < kulEntries && !m_poRing->IsFree(ulIndex)) {
        ++ulIndex;
    }
    if (ulIndex == kulEntries) {
        return VOCORA_PLAY_ERR_WRITE;  // every entry is queued; the host retries later
    }
    WAVEHDR& stEntry = m_poRing->astEntries[ulIndex];
    const HWAVEOUT hWaveOut = m_poRing->hWaveOut;
    if (ulLength > m_ulBufferSize) {
        ulLength = m_ulBufferSize;
    }
    if (Platform().pfnWaveOutUnprepareHeader(hWaveOut, &stEntry, kulHeaderSize) != MMSYSERR_NOERROR) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::PlayWaveData",
                   "failed to waveOutUnprepareHeader memory controller entry [%u] to waveout device.",
                   ulIndex);
        return VOCORA_PLAY_ERR_WRITE;
    }
    std::memcpy(stEntry.lpData, pucData, ulLength);
    stEntry.dwBufferLength = ulLength;
    stEntry.dwFlags = 0;
    SetBusyMark(stEntry, 1);
    if (Platform().pfnWaveOutPrepareHeader(hWaveOut, &stEntry, kulHeaderSize) != MMSYSERR_NOERROR) {
        VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::PlayWaveData",
                   "failed to waveOutPrepareHeader memory controller entry [%u] to waveout device.",
                   ulIndex);
        ReleaseEntry(stEntry);
        return VOCORA_PLAY_ERR_WRITE;
    }
    // Queued entries play one after another: this one is due once those
    // before it and itself have played.
    const DWORD ulNow = GetTickCount();
    const DWORD ulFrom = static_cast<int32_t>(m_poRing->ulLastDue - ulNow) > 0 ? m_poRing->ulLastDue : ulNow;
    m_poRing->aulDueAt[ulIndex] = m_poRing->ulLastDue = ulFrom + BlockMilliseconds(ulLength);
    if (Platform().pfnWaveOutWrite(hWaveOut, &stEntry, kulHeaderSize) != MMSYSERR_NOERROR) {
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
    if (m_poRing != nullptr && m_poRing->bDeviceOpen) {
        // The reset hands every queued entry back before any is unprepared.
        if (Platform().pfnWaveOutReset(m_poRing->hWaveOut) != MMSYSERR_NOERROR) {
            VOCORA_LOG(VOCORA_LOG_ERROR, "CWaveOutPlay::Close", "failed to reset waveout device.");
            return VOCORA_ERR_RESOURCE;
        }
        // The callback may still be on its way for the last entries.
        m_poRing->WaitBack(1000);
        m_poRing->Release(true);
    }
    if (m_poRing != nullptr) {
        m_poRing->FreeBuffers();
        delete std::exchange(m_poRing, nullptr);
    }
    VOCORA_LOG(VOCORA_LOG_INFO, "CWaveOutPlay::Close", "succeed to close waveout device");
    return VOCORA_OK;
}

// As long as ulBytes take to play.
uint32_t CWaveOutPlay::BlockMilliseconds(uint32_t ulBytes) const
{
    const uint64_t ullBytesPerSecond = m_stWaveFormat.nAvgBytesPerSec != 0 ? m_stWaveFormat.nAvgBytesPerSec : 1;
    return static_cast<uint32_t>(uint64_t{ulBytes} * 1000 / ullBytesPerSecond);
}
