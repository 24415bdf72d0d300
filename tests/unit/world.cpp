#include "world.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <sstream>
#include <utility>

#include "aec/aec_ids.h"
#include "common/func_macros.h"
#include "directsound/directsoundcapture.h"
#include "directsound/directsoundplay.h"
#include "log/log.h"
#include "vocora_manager.h"

void VOCORA_CALL CLog::Callback(void*, int32_t lLevel, const char* pszFile, uint32_t, const char* pszFunction,
                                const char* pszFormat, va_list vaArgs)
{
    char szText[1024];
    std::vsnprintf(szText, sizeof szText, pszFormat, vaArgs);
    std::lock_guard<std::mutex> oLock(sm_mtx);
    sm_vec.push_back({lLevel, pszFile, pszFunction, pszFormat, szText});
}

CWorld::CWorld(WorldOptions stOptions)
{
    CLog::Clear();
    Log_SetLogCallback(&CLog::Callback);
    Log_SetLogLevel(VOCORA_LOG_INFO);
    sm_bUseDirectSoundPlay = sm_bUseAecCapture = sm_bForceUseWaveout = 0;
    MockDirectSound::sm_pCurrent = &oDirectSound;
    MockDirectSoundCapture::sm_pCurrent = &oCapture;
    if (stOptions.bDirectSound) {
        oPlatform.mapDirectSound = {
            {"DirectSoundCreate8", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&MockDirectSound::Create8))},
            {"DirectSoundCaptureCreate8", reinterpret_cast<FARPROC>(reinterpret_cast<void*>(&MockDirectSoundCapture::Create8))}};
    }
    // Releasing an object after its module went would jump into nothing.
    oPlatform.fnBeforeUnload = [this] {
        const long lHeld = oDirectSound.References() + oDirectSound.oBuffer.References() + oCapture.References() + oCapture.oBuffer.References();
        EXPECT_EQ(lHeld, 0) << "references held as DSOUND.DLL goes";
    };
    if (stOptions.bEchoCancelling) {
        oEnumerator.avecEndpoints[eCapture] = {&oMicrophone};
        oEnumerator.avecEndpoints[eRender] = {&oSpeaker};
        oPlatform.vecClasses = {{kClsidMMDeviceEnumerator, static_cast<IMMDeviceEnumerator*>(&oEnumerator)},
                                {kClsidWMAudioAec, static_cast<IMediaObject*>(&oDsp)}};
    }
}

CWorld::~CWorld()
{
    // Every test ends as a host does, and must have given everything back.
    Vocora_Cleanup();
    EXPECT_EQ(Unreleased(), "") << strWhen;
    // Whatever a test left behind must not reach the next one.
    CloseMixer();
    DirectSoundCaptureCleanup();
    DirectSoundCleanup();
    Log_SetLogLevel(VOCORA_LOG_INFO);
}

std::string CWorld::Unreleased() const
{
    std::string strOut = oPlatform.Outstanding();
    const std::pair<const char*, long> astObjects[] = {
        {"DirectSound", oDirectSound.References()}, {"sound buffer", oDirectSound.oBuffer.References()},
        {"capture", oCapture.References()},         {"capture buffer", oCapture.oBuffer.References()},
        {"enumerator", oEnumerator.References()},   {"microphone", oMicrophone.References()},
        {"loudspeaker", oSpeaker.References()},     {"DSP", oDsp.References()}};
    for (const auto& [pszName, lReferences] : astObjects) {
        strOut += lReferences != 0 ? std::string(pszName) + " references " + std::to_string(lReferences) + "; " : "";
    }
    return strOut;
}

std::vector<std::string> CWorld::TakeErrors(bool bTexts)
{
    const std::vector<LogRecord> vecRecords = CLog::Records();
    std::vector<std::string> vecErrors;
    for (size_t i = m_ulSeen; i < vecRecords.size(); ++i) {
        if (vecRecords[i].lLevel == VOCORA_LOG_ERROR) {
            vecErrors.push_back(bTexts ? vecRecords[i].strText : vecRecords[i].strFormat);
        }
    }
    m_ulSeen = vecRecords.size();
    return vecErrors;
}

bool WaitUntil(const std::function<bool()>& fnCondition, DWORD ulTimeoutMs)
{
    for (DWORD ulWaited = 0; !fnCondition(); ulWaited += 2, ::Sleep(2)) {
        if (ulWaited >= ulTimeoutMs) {
            return false;
        }
    }
    return true;
}

bool IsCounter(const std::vector<uint8_t>& vec)
{
    const auto fnBreak = [](uint8_t uc, uint8_t ucNext) { return ucNext != static_cast<uint8_t>(uc + 1); };
    return !vec.empty() && std::adjacent_find(vec.begin(), vec.end(), fnBreak) == vec.end();
}

void VOCORA_CALL Received::Callback(const uint8_t* puc, uint32_t ul, void* pUser)
{
    auto* pst = static_cast<Received*>(pUser);
    if (pst->hSelf != nullptr && pst->ulSelfDestroyed == 99) {
        pst->ulSelfDestroyed = Vocora_DestoryCaptureDec(pst->hSelf);
    }
    std::lock_guard<std::mutex> oLock(pst->mtx);
    pst->vecBytes.insert(pst->vecBytes.end(), puc, puc + ul);
    pst->vecLengths.push_back(ul);
    ++pst->iCalls;
}

uint32_t CRun::Call(const char* pszExport, const std::function<uint32_t()>& fnCall)
{
    const std::string strBefore = m_oWorld.oPlatform.Injected();
    const std::vector<std::string> vecBetween = m_oWorld.TakeErrors();  // the worker threads' since the last call
    m_setSeen.insert(vecBetween.begin(), vecBetween.end());
    const uint32_t ulResult = fnCall();
    const std::vector<std::string> vecErrors = m_oWorld.TakeErrors();
    m_setSeen.insert(vecErrors.begin(), vecErrors.end());
    if (m_oWorld.oPlatform.Injected() != strBefore) {
        std::ostringstream oOut;
        oOut << pszExport << " 0x" << std::hex << ulResult;
        std::string strSeparator = " ";
        for (const std::string& str : vecErrors) {
            oOut << (m_setUsual.count(str) != 0 ? "" : std::exchange(strSeparator, " / ") + str.substr(0, 48));
        }
        m_strOutcome = oOut.str() + (strSeparator == " " ? " -" : "");
    }
    return ulResult;
}

// A run without faults goes first: the errors it logs are the machine's
// usual ones, not a fault's outcome.
std::vector<std::string> Sweep(const WorldOptions& stOptions, const Scenario& fnScenario)
{
    std::vector<std::string> vecOutcomes;
    std::set<std::string> setUsual;
    std::string strFirstSite, strLastOutcome;
    int iRun = 0;
    for (int iFault = 0; iFault < 500; ++iFault) {
        CWorld oWorld(stOptions);
        oWorld.oPlatform.FailHostCall(iFault);
        CRun oRun(oWorld, setUsual);
        fnScenario(oWorld, oRun);
        const std::string strInjected = oWorld.oPlatform.Injected();
        oWorld.strWhen = "with " + strInjected + " failing";
        if (iFault == 0) {
            setUsual = oRun.Seen();
            continue;
        }
        if (strInjected.empty()) {
            return vecOutcomes;
        }
        // Neighbouring faults with the same outcome make one line: "first..last (count) outcome".
        const std::string strOutcome = oRun.Outcome().empty() ? "outside every export" : oRun.Outcome();
        if (!vecOutcomes.empty() && strOutcome == strLastOutcome) {
            vecOutcomes.back() = strFirstSite + ".." + strInjected + " (" + std::to_string(++iRun) + ") " + strOutcome;
        } else {
            vecOutcomes.push_back(strInjected + " " + strOutcome);
            strFirstSite = strInjected;
            strLastOutcome = strOutcome;
            iRun = 1;
        }
    }
    ADD_FAILURE() << "the sweep never reached a run without faults";
    return vecOutcomes;
}
