// The echo-cancelling engine's parts against fakes: the media buffers the DSP
// writes into, the endpoint lookup, and the engine itself — how it sets the
// DSP up, its timer, and what one tick hands its sink.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "aec/endpoint_lookup.h"
#include "aec/media_buffer.h"
#include "fakes/aec_fixture.h"

namespace {

const GUID kIidMediaBuffer = {
    0x59eff8b9, 0x938c, 0x4a26, {0x82, 0xf2, 0x95, 0xcb, 0x84, 0xcd, 0xc8, 0x37}};

// ---- Media buffers ----------------------------------------------------------------

TEST_F(AecTest, StaticMediaBufferAnswersOnlyItsOwnInterfacesAndKeepsItsCount)
{
    CStaticMediaBuffer oBuffer;
    const struct {
        const GUID* pIid;
        HRESULT hr;
    } astCases[] = {{&IID_IUnknown, S_OK}, {&kIidMediaBuffer, S_OK},
                    {&kIidMediaObject, E_NOINTERFACE}, {&kIidPropertyStore, E_NOINTERFACE}};
    for (const auto& stCase : astCases) {
        int iSentinel = 0;
        void* pv = &iSentinel;
        EXPECT_EQ(oBuffer.QueryInterface(*stCase.pIid, &pv), stCase.hr);
        EXPECT_EQ(pv, stCase.hr == S_OK ? static_cast<IMediaBuffer*>(&oBuffer) : nullptr);
    }
    EXPECT_EQ(oBuffer.QueryInterface(kIidMediaBuffer, nullptr), E_POINTER);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(oBuffer.AddRef(), 2u);
        EXPECT_EQ(oBuffer.Release(), 1u);
    }
}

TEST_F(AecTest, MediaBufferLengthStaysWithinItsMemory)
{
    uint8_t aucMemory[64];
    CStaticMediaBuffer oBuffer;
    oBuffer.SetBuffer(aucMemory, 64, 10);
    EXPECT_EQ(oBuffer.SetLength(64), S_OK);
    EXPECT_EQ(oBuffer.SetLength(65), E_INVALIDARG);
    BYTE* pucData = nullptr;
    DWORD ulLength = 0;
    EXPECT_EQ(oBuffer.GetBufferAndLength(&pucData, &ulLength), S_OK);
    EXPECT_EQ(pucData, aucMemory);
    EXPECT_EQ(ulLength, 64u);
    EXPECT_EQ(oBuffer.GetBufferAndLength(nullptr, nullptr), S_OK);
    EXPECT_EQ(oBuffer.GetMaxLength(nullptr), E_POINTER);
}

// A buffer on the heap; pointing it at memory is all it adds.
class CHeapMediaBuffer : public CBaseMediaBuffer {
public:
    void Point(uint8_t* pucData, uint32_t ulMaxLength)
    {
        m_pucData = pucData;
        m_ulMaxLength = ulMaxLength;
    }
};

TEST_F(AecTest, HeapMediaBufferFreesItselfButNotItsMemory)
{
    CPlatformBuffer pucMemory = AllocatePlatformBuffer(32);
    auto* poBuffer = new (std::nothrow) CHeapMediaBuffer();
    poBuffer->Point(pucMemory.get(), 32);
    ASSERT_EQ(m_oPlatform.OutstandingAllocations(), 2u);
    EXPECT_EQ(poBuffer->AddRef(), 1u);
    void* pv = nullptr;
    ASSERT_EQ(poBuffer->QueryInterface(kIidMediaBuffer, &pv), S_OK);
    EXPECT_EQ(poBuffer->Release(), 1u) << "the query's reference";
    EXPECT_EQ(poBuffer->Release(), 0u);
    EXPECT_EQ(m_oPlatform.OutstandingAllocations(), 1u) << "the memory stays its owner's";
}

// ---- Endpoint lookup --------------------------------------------------------------

TEST_F(AecTest, CountEndpointsWritesTheCountOnlyOnSuccess)
{
    HRESULT* const aphrFailures[] = {&m_oEnumerator.m_hrCreate, &m_oEnumerator.m_hrEnumAudioEndpoints,
                                     &Mics().m_hrGetCount};
    for (HRESULT* phrFailure : aphrFailures) {
        *phrFailure = E_ACCESSDENIED;
        uint32_t ulCount = 77;
        EXPECT_EQ(CountEndpoints(eCapture, &ulCount), E_ACCESSDENIED);
        EXPECT_EQ(ulCount, 77u);
        *phrFailure = S_OK;
    }
    SetMachine(0, 2);
    uint32_t ulCount = 77;
    EXPECT_EQ(CountEndpoints(eCapture, &ulCount), S_OK);
    EXPECT_EQ(ulCount, 0u);
    EXPECT_EQ(CountEndpoints(eRender, &ulCount), S_OK);
    EXPECT_EQ(ulCount, 2u);
}

TEST_F(AecTest, ListEndpointsFillsEachRecordAndCutsLongTexts)
{
    CFakeEndpoint& oArray = Mics().Add(std::wstring(600, L'n'), true);
    oArray.m_wstrId = std::wstring(300, L'a') + std::wstring(300, L'b');
    AecEndpointInfo astRecords[2];
    std::memset(astRecords, 0xCD, sizeof astRecords);
    ASSERT_EQ(ListEndpoints(eCapture, 2, astRecords), S_OK);
    EXPECT_STREQ(astRecords[0].wszName, L"Mic 0");
    EXPECT_STREQ(astRecords[0].wszId, L"{0.0.0.00000000}.{0}");
    EXPECT_FALSE(astRecords[0].bMicArray);
    EXPECT_EQ(std::wstring(astRecords[1].wszName), std::wstring(510, L'n'));
    EXPECT_EQ(std::wstring(astRecords[1].wszId), std::wstring(300, L'a') + std::wstring(210, L'b'));
    EXPECT_TRUE(astRecords[1].bMicArray);
}

TEST_F(AecTest, ListEndpointsFillsNothingWhenTheCountIsNotTheCallers)
{
    AecEndpointInfo astRecords[3];
    std::memset(astRecords, 0xCD, sizeof astRecords);
    const std::vector<uint8_t> vecUntouched(reinterpret_cast<uint8_t*>(astRecords),
                                            reinterpret_cast<uint8_t*>(astRecords + 3));
    const auto Untouched = [&] {
        return std::memcmp(astRecords, vecUntouched.data(), sizeof astRecords) == 0;
    };
    EXPECT_EQ(ListEndpoints(eCapture, 2, astRecords), E_INVALIDARG) << "one endpoint went";
    EXPECT_TRUE(Untouched());
    SetMachine(3, 1);
    EXPECT_EQ(ListEndpoints(eCapture, 2, astRecords), E_INVALIDARG) << "one endpoint came";
    EXPECT_TRUE(Untouched());
    SetMachine(0, 1);
    EXPECT_EQ(ListEndpoints(eCapture, 0, astRecords), S_OK);
    EXPECT_TRUE(Untouched());
}

TEST_F(AecTest, AFailingCallStopsTheListWhereItFailed)
{
    SetMachine(3, 1);
    HRESULT CFakeEndpoint::*const apmFailures[] = {
        &CFakeEndpoint::m_hrItem, &CFakeEndpoint::m_hrGetId, &CFakeEndpoint::m_hrOpenPropertyStore,
        &CFakeEndpoint::m_hrGetValue};
    for (HRESULT CFakeEndpoint::*pmFailure : apmFailures) {
        Mics()[1].*pmFailure = E_OUTOFMEMORY;
        AecEndpointInfo astRecords[3];
        std::memset(astRecords, 0xCD, sizeof astRecords);
        EXPECT_EQ(ListEndpoints(eCapture, 3, astRecords), E_OUTOFMEMORY);
        EXPECT_STREQ(astRecords[0].wszName, L"Mic 0");
        const AecEndpointInfo stZero = {};
        EXPECT_EQ(std::memcmp(&astRecords[1], &stZero, sizeof stZero), 0);
        EXPECT_EQ(std::memcmp(&astRecords[2], &stZero, sizeof stZero), 0);
        Mics()[1].*pmFailure = S_OK;
    }
}

TEST_F(AecTest, AJackThatCannotBeFollowedIsNoMicArray)
{
    CFakeJack& oJack = Mics()[0].m_oJack;
    oJack.m_bMicArray = true;
    bool bMicArray = false;
    EXPECT_EQ(CheckMicArrayJack(&Mics()[0], &bMicArray), S_OK);
    EXPECT_TRUE(bMicArray);
    for (JackBreak eStep : {JackBreak::kActivate, JackBreak::kGetConnector, JackBreak::kGetConnectedTo,
                            JackBreak::kQueryPart, JackBreak::kGetSubType}) {
        SCOPED_TRACE(static_cast<int>(eStep));
        oJack.m_eBreakAt = eStep;
        oJack.m_hrBreak = eStep == JackBreak::kQueryPart ? E_NOINTERFACE : E_FAIL;
        EXPECT_EQ(CheckMicArrayJack(&Mics()[0], &bMicArray), oJack.m_hrBreak);
        EXPECT_FALSE(bMicArray);
        GUID stSubtype = {};
        EXPECT_EQ(QueryJackSubtype(&Mics()[0], &stSubtype), oJack.m_hrBreak);
        AecEndpointInfo stRecord;
        std::memset(&stRecord, 0xCD, sizeof stRecord);
        ASSERT_EQ(ListEndpoints(eCapture, 1, &stRecord), S_OK);
        EXPECT_STREQ(stRecord.wszName, L"Mic 0");
        EXPECT_FALSE(stRecord.bMicArray);
    }
    EXPECT_EQ(CheckMicArrayJack(nullptr, &bMicArray), E_POINTER);
    GUID stSubtype = {};
    EXPECT_EQ(QueryJackSubtype(nullptr, &stSubtype), E_POINTER);
}

TEST_F(AecTest, ReadDefaultEndpointLeavesTheRecordWithoutOne)
{
    SetMachine(2, 1);
    AecEndpointInfo stRecord;
    std::memset(&stRecord, 0xCD, sizeof stRecord);
    const AecEndpointInfo stUntouched = stRecord;
    for (HRESULT* phrFailure :
         {&m_oEnumerator.m_hrCreate, &m_oEnumerator.m_hrGetDefaultAudioEndpoint}) {
        *phrFailure = E_ACCESSDENIED;
        EXPECT_EQ(ReadDefaultEndpoint(eCapture, &stRecord), E_ACCESSDENIED);
        EXPECT_EQ(std::memcmp(&stRecord, &stUntouched, sizeof stRecord), 0);
        *phrFailure = S_OK;
    }
    ASSERT_EQ(ReadDefaultEndpoint(eCapture, &stRecord), S_OK);
    EXPECT_STREQ(stRecord.wszName, L"Mic 1");
    EXPECT_STREQ(stRecord.wszId, L"{0.0.0.00000000}.{1}");
}

TEST_F(AecTest, WideToAnsiNeedsTextAndABuffer)
{
    char szBuffer[8] = "xyz";
    EXPECT_EQ(WideToAnsi(nullptr, L"a", 8, CP_ACP), nullptr);
    EXPECT_EQ(WideToAnsi(szBuffer, nullptr, 8, CP_ACP), nullptr);
    EXPECT_EQ(WideToAnsi(szBuffer, L"", 8, CP_ACP), szBuffer);
    EXPECT_STREQ(szBuffer, "");
}

// ---- Setting the DSP up -----------------------------------------------------------

// What Init must tell the DSP, in order: each write read back, the output
// type before the frame size.
std::vector<std::string> ExpectedSetup(uint32_t ulMode, bool bIndexes, uint32_t ulIndexes,
                                       uint32_t ulFrameSize)
{
    std::vector<std::string> vecCalls;
    const auto Write = [&](unsigned uiId, unsigned uiType, int32_t lValue) {
        vecCalls.push_back("set " + std::to_string(uiId) + " vt" + std::to_string(uiType) + " " +
                           std::to_string(lValue));
        vecCalls.push_back("get " + std::to_string(uiId));
    };
    Write(2, VT_I4, static_cast<int32_t>(ulMode));
    if (bIndexes) {
        Write(4, VT_I4, static_cast<int32_t>(ulIndexes));
    }
    Write(5, VT_BOOL, VARIANT_TRUE);
    Write(8, VT_I4, 0);
    Write(9, VT_BOOL, VARIANT_FALSE);
    Write(12, VT_BOOL, VARIANT_FALSE);
    vecCalls.push_back("type");
    Write(6, VT_I4, static_cast<int32_t>(ulFrameSize));
    vecCalls.push_back("alloc");
    return vecCalls;
}

TEST_F(AecTest, InitSetsTheDspUpInOrder)
{
    SetMachine(3, 1);
    const struct {
        int32_t lCapture;
        int32_t lRender;
        bool bIndexes;
        uint32_t ulIndexes;
    } astCases[] = {{2, -1, true, 0xFFFF0002}, {1, 0, true, 0x00000001}, {-1, 0, true, 0x0000FFFF},
                    {-1, -1, false, 0}};
    for (const auto& stCase : astCases) {
        SCOPED_TRACE(std::to_string(stCase.lCapture) + "/" + std::to_string(stCase.lRender));
        m_oDsp.m_vecCalls.clear();
        EnginePtr poEngine = NewEngine();
        if (stCase.lCapture >= 0) {
            ASSERT_EQ(poEngine->SetCaptureDeviceIndex(static_cast<uint32_t>(stCase.lCapture)), 0u);
        }
        if (stCase.lRender >= 0) {
            ASSERT_EQ(poEngine->SetRenderDeviceIndex(stCase.lRender), 0u);
        }
        EXPECT_EQ(poEngine->Init(2, 44100, 16, 441), 0u);
        EXPECT_EQ(m_oDsp.m_vecCalls, ExpectedSetup(0, stCase.bIndexes, stCase.ulIndexes, 441));
    }
    const CFakePlatform::CoCreateCall stCreate = m_oPlatform.CoCreateCalls().back();
    EXPECT_EQ(stCreate.ulContext, static_cast<DWORD>(CLSCTX_INPROC_SERVER));
    EXPECT_EQ(stCreate.stIid, kIidMediaObject);

    const DMO_MEDIA_TYPE& stType = m_oDsp.m_stOutputType;
    EXPECT_EQ(stType.majortype, kMediaTypeAudio);
    EXPECT_EQ(stType.subtype, kMediaSubtypePcm);
    EXPECT_EQ(stType.formattype, kFormatWaveFormatEx);
    EXPECT_EQ(stType.bFixedSizeSamples, TRUE);
    EXPECT_EQ(stType.bTemporalCompression, FALSE);
    EXPECT_EQ(stType.lSampleSize, 0u);
    EXPECT_EQ(stType.pUnk, nullptr);
    EXPECT_EQ(stType.cbFormat, 18u);
    const WAVEFORMATEX& stFormat = m_oDsp.m_stOutputFormat;
    EXPECT_EQ(stFormat.wFormatTag, WAVE_FORMAT_PCM);
    EXPECT_EQ(stFormat.nChannels, 2);
    EXPECT_EQ(stFormat.nSamplesPerSec, 44100u);
    EXPECT_EQ(stFormat.wBitsPerSample, 16);
    EXPECT_EQ(stFormat.nBlockAlign, 4);
    EXPECT_EQ(stFormat.nAvgBytesPerSec, 176400u);
    EXPECT_EQ(stFormat.cbSize, 0);
}

TEST_F(AecTest, InitReturnsTheFailingCallsResultAndCanStartAgain)
{
    const struct {
        std::function<HRESULT&()> fnFailure;
        HRESULT hr;
        const char* pszLastCall;  // what the DSP heard last
    } astCases[] = {
        {[&]() -> HRESULT& { return m_oDsp.m_hrCreate; }, REGDB_E_CLASSNOTREG, ""},
        {[&]() -> HRESULT& { return m_oDsp.m_hrQueryProperties; }, E_NOINTERFACE, ""},
        {[&]() -> HRESULT& { return m_oDsp.m_mapSetFailures[2]; }, E_ACCESSDENIED, "set 2 vt3 0"},
        {[&]() -> HRESULT& { return m_oDsp.m_mapGetFailures[5]; }, E_UNEXPECTED, "get 5"},
        {[&]() -> HRESULT& { return m_oDsp.m_mapSetFailures[12]; }, E_INVALIDARG, "set 12 vt11 0"},
        {[&]() -> HRESULT& { return m_oPlatform.MediaTypes().hrInit; }, E_OUTOFMEMORY, "get 12"},
        {[&]() -> HRESULT& { return m_oDsp.m_hrSetOutputType; },
         static_cast<HRESULT>(DMO_E_TYPE_NOT_ACCEPTED), "type"},
        {[&]() -> HRESULT& { return m_oDsp.m_mapSetFailures[6]; }, E_ACCESSDENIED, "set 6 vt3 0"},
        {[&]() -> HRESULT& { return m_oDsp.m_hrAllocate; }, E_OUTOFMEMORY, "alloc"}};
    for (const auto& stCase : astCases) {
        SCOPED_TRACE("case " + std::to_string(&stCase - astCases));
        HRESULT& hrFailure = stCase.fnFailure();
        hrFailure = stCase.hr;
        m_oDsp.m_vecCalls.clear();
        EnginePtr poEngine = NewEngine();
        EXPECT_EQ(poEngine->Init(1, 16000, 16, 0), static_cast<uint32_t>(stCase.hr));
        EXPECT_EQ(m_oDsp.m_vecCalls.empty() ? "" : m_oDsp.m_vecCalls.back(), stCase.pszLastCall);

        hrFailure = S_OK;
        EXPECT_EQ(poEngine->Init(1, 16000, 16, 0), 0u);
        EXPECT_EQ(m_oDsp.References(), 1) << "one DSP, the new one";
    }
}

TEST_F(AecTest, InitRebuildsOnlyForANewSelection)
{
    SetMachine(2, 1);
    EnginePtr poEngine = ReadyEngine();
    poEngine->Start();
    MarkTimer();
    EXPECT_EQ(poEngine->Init(1, 16000, 16, 0), 1u);
    EXPECT_TRUE(m_oDsp.m_vecCalls.empty());
    EXPECT_TRUE(TimerCalls().empty()) << "the running timer stays";
    EXPECT_EQ(DspCreations(), 1);

    ASSERT_EQ(poEngine->SetCaptureDeviceIndex(1), 0u);
    EXPECT_EQ(poEngine->Init(1, 16000, 16, 0), 0u);
    EXPECT_EQ(TimerCalls(), (std::vector<std::string>{"end 20", "kill 1"}));
    EXPECT_EQ(DspCreations(), 2);
    EXPECT_EQ(IndexWrite(), "set 4 vt3 -65535");
    EXPECT_EQ(m_oDsp.References(), 1);
}

TEST_F(AecTest, AecModeAndRateTakeOnlyKnownValues)
{
    const struct {
        uint32_t ulMode;
        uint32_t ulRate;
        uint32_t ulExpectedMode;
        uint32_t ulExpectedRate;
    } astCases[] = {{1, 44100, 0, 16000}, {3, 48000, 3, 16000}, {4, 8000, 4, 8000},
                    {0, 11025, 0, 11025}, {3, 22050, 3, 22050}, {2, 16000, 0, 16000}};
    for (const auto& stCase : astCases) {
        SCOPED_TRACE(std::to_string(stCase.ulMode) + " " + std::to_string(stCase.ulRate));
        m_oDsp.m_vecCalls.clear();
        m_oSink.m_vecBlocks.clear();
        EnginePtr poEngine = NewEngine();
        EXPECT_EQ(poEngine->SetAecMode(stCase.ulMode, stCase.ulRate), 0u);
        ASSERT_EQ(poEngine->Init(1, 16000, 16, 0), 0u);
        EXPECT_EQ(m_oDsp.m_vecCalls[0], "set 2 vt3 " + std::to_string(stCase.ulExpectedMode));
        poEngine->AddEventSink(&m_oSink);
        m_oDsp.m_dqSteps.push_back({S_OK, 2, false});
        poEngine->ProcessCapture();
        ASSERT_EQ(m_oSink.m_vecBlocks.size(), 1u);
        EXPECT_EQ(m_oSink.m_vecBlocks[0].ulSampleRate, stCase.ulExpectedRate);
    }
}

TEST_F(AecTest, EventsReachOnlyALoneSink)
{
    EnginePtr poEngine = ReadyEngine();
    CEventSink oOther;
    EXPECT_EQ(poEngine->AddEventSink(nullptr), 0xFFFFFFFFu);
    const auto Tick = [&] {
        m_oDsp.m_dqSteps.push_back({S_OK, 4, false});
        poEngine->ProcessCapture();
    };
    poEngine->AddEventSink(&oOther);
    Tick();
    EXPECT_TRUE(m_oSink.m_vecBlocks.empty());
    EXPECT_TRUE(oOther.m_vecBlocks.empty());
    poEngine->RemoveEventSink(&oOther);
    Tick();
    EXPECT_EQ(m_oSink.m_vecBlocks.size(), 1u);
    poEngine->RemoveEventSink(nullptr);
    Tick();
    EXPECT_EQ(m_oSink.m_vecBlocks.size(), 1u);
    EXPECT_TRUE(oOther.m_vecBlocks.empty());
}

// ---- The timer and its ticks ------------------------------------------------------

TEST_F(AecTest, OneTimerAtATime)
{
    EnginePtr poEngine = ReadyEngine();
    EXPECT_EQ(poEngine->Stop(), 0u);
    EXPECT_TRUE(TimerCalls().empty()) << "nothing to stop";

    Timer().bFailSet = true;
    EXPECT_EQ(poEngine->Start(), 0u);
    EXPECT_EQ(TimerCalls(), (std::vector<std::string>{"begin 20", "set 10 20 0x101", "end 20"}));
    Timer().bFailSet = false;
    MarkTimer();

    EXPECT_EQ(poEngine->Start(), 0u);
    EXPECT_EQ(poEngine->Start(), 0u);
    EXPECT_EQ(TimerCalls(), (std::vector<std::string>{"begin 20", "set 10 20 0x101"}));
    EXPECT_EQ(Timer().ulUser, reinterpret_cast<DWORD_PTR>(poEngine.get()));
    m_oDsp.m_dqSteps.push_back({S_OK, 8, false});
    Timer().Fire();
    EXPECT_EQ(m_oSink.m_vecBlocks.size(), 1u) << "a tick collects";

    EXPECT_EQ(poEngine->Stop(), 0u);
    EXPECT_EQ(TimerCalls(), (std::vector<std::string>{"begin 20", "set 10 20 0x101", "end 20",
                                                          "kill 1"}));
}

struct TickCase {
    const char* pszName;
    std::vector<DspStep> vecSteps;
    std::deque<UINT> dqMicCounts;  // what the recounts answer
    HRESULT hrMicCount;
    uint32_t ulResult;
    size_t ulPulls;
    uint32_t ulDelivered;  // 0: no block
    int iDisconnects;
};

TEST_F(AecTest, ATickHandsOverEverythingReadyInOneBlock)
{
    const DspStep stMore = {S_OK, 12000, true};
    const TickCase astCases[] = {
        {"nothing ready", {}, {}, S_OK, 1, 1, 0, 0},
        {"one block", {{S_OK, 320, false}}, {}, S_OK, 0, 1, 320, 0},
        {"more waiting", {{S_OK, 100, true}, {S_OK, 200, false}}, {}, S_OK, 0, 2, 300, 0},
        {"more promised", {{S_OK, 100, true}}, {}, S_OK, 0, 2, 100, 0},
        {"buffer full", {stMore, stMore, stMore, stMore}, {}, S_OK, 0, 3, 32000, 0},
        {"output failed", {{E_FAIL, 64, false}}, {}, S_OK, 0, 1, 64, 0},
        {"count unreadable", {{S_OK, 50, false}}, {}, E_FAIL, 0, 1, 50, 0},
        {"microphone gone", {{S_OK, 100, true}, {S_OK, 100, false}}, {1, 0}, S_OK, 0, 1, 0, 1},
    };
    for (const TickCase& stCase : astCases) {
        SCOPED_TRACE(stCase.pszName);
        EnginePtr poEngine = ReadyEngine();
        m_oSink = CEventSink();
        m_oDsp.m_vecWrittenAt.clear();
        m_oDsp.m_iPulls = 0;
        m_oDsp.m_dqSteps.assign(stCase.vecSteps.begin(), stCase.vecSteps.end());
        const size_t ulFirstByte = m_oDsp.Produced();
        Mics().m_iCountCalls = 0;
        Mics().m_dqCounts = stCase.dqMicCounts;
        Mics().m_hrGetCount = stCase.hrMicCount;

        EXPECT_EQ(poEngine->ProcessCapture(), stCase.ulResult);
        EXPECT_EQ(m_oDsp.m_iPulls, static_cast<int>(stCase.ulPulls));
        EXPECT_EQ(Mics().m_iCountCalls, stCase.iDisconnects + static_cast<int>(stCase.ulPulls))
            << "a recount before every pull";
        EXPECT_EQ(m_oSink.m_iDisconnects, stCase.iDisconnects);
        Mics().m_hrGetCount = S_OK;
        m_oDsp.m_dqSteps.clear();
        if (stCase.ulDelivered == 0) {
            EXPECT_TRUE(m_oSink.m_vecBlocks.empty());
            continue;
        }
        ASSERT_EQ(m_oSink.m_vecBlocks.size(), 1u);
        const CEventSink::Block& stBlock = m_oSink.m_vecBlocks[0];
        EXPECT_EQ(stBlock.vecBytes.size(), stCase.ulDelivered);
        EXPECT_EQ(stBlock.ulSampleRate, 16000u);
        EXPECT_EQ(stBlock.ulFlag, 1u);
        // Each pull writes behind what the earlier ones left.
        EXPECT_EQ(stBlock.pucData, m_oDsp.m_vecWrittenAt[0]);
        if (m_oDsp.m_vecWrittenAt.size() > 1) {
            EXPECT_EQ(m_oDsp.m_vecWrittenAt[1], stBlock.pucData + stCase.vecSteps[0].ulBytes);
        }
        for (size_t i = 0; i < stBlock.vecBytes.size(); ++i) {
            ASSERT_EQ(stBlock.vecBytes[i], CFakeVoiceDsp::ByteAt(ulFirstByte + i)) << "byte " << i;
        }
    }
}

TEST_F(AecTest, ReadCaptureDataFillsTheCallersMemory)
{
    EnginePtr poEngine = ReadyEngine();
    m_oDsp.m_dqSteps = {{S_OK, 100, true}, {S_OK, 50, false}};
    std::vector<uint8_t> vecMemory(400, 0xEE);
    uint32_t ulSize = 400;
    const size_t ulFirstByte = m_oDsp.Produced();
    EXPECT_EQ(poEngine->ReadCaptureData(vecMemory.data(), &ulSize), 0u);
    EXPECT_EQ(ulSize, 150u);
    EXPECT_EQ(m_oDsp.m_vecWrittenAt,
              (std::vector<const BYTE*>{vecMemory.data(), vecMemory.data() + 100}));
    EXPECT_EQ(vecMemory[0], CFakeVoiceDsp::ByteAt(ulFirstByte));
    EXPECT_EQ(vecMemory[149], CFakeVoiceDsp::ByteAt(ulFirstByte + 149));
    EXPECT_EQ(vecMemory[150], 0xEE);
    EXPECT_EQ(m_oPlatform.Sleeps(10), 2) << "a pause before each pass";
    EXPECT_TRUE(m_oSink.m_vecBlocks.empty());
}

TEST_F(AecTest, DestructionStopsTheTimerBeforeReleasingTheDsp)
{
    EnginePtr poEngine = ReadyEngine();
    poEngine->Start();
    LONG lDspReferencesAtKill = -1;
    Timer().fnOnKill = [&] { lDspReferencesAtKill = m_oDsp.References(); };
    poEngine.reset();
    EXPECT_EQ(lDspReferencesAtKill, 1);
}

// ---- Endpoint lists and selection -------------------------------------------------

TEST_F(AecTest, SelectionByNameIndexOrDefault)
{
    SetMachine(4, 2);
    Mics()[2].m_wstrName = L"Mic 0";
    Mics().m_ulDefault = 1;
    EnginePtr poEngine(new (std::nothrow) CAecMicArrayCapture());
    EXPECT_EQ(poEngine->SelectCaptureDeviceByName("Mic 0"), 2u) << "no list yet";
    m_oEnumerator.m_vecEnumerated.clear();
    poEngine->EnumDevices();
    EXPECT_EQ(m_oEnumerator.m_vecEnumerated,
              (std::vector<EDataFlow>{eCapture, eCapture, eRender, eRender}));
    EXPECT_EQ(poEngine->GetCaptureDeviceCount(), 4u);
    EXPECT_EQ(poEngine->GetRenderDeviceCount(), 2u);
    EXPECT_EQ(poEngine->SelectCaptureDeviceByName(nullptr), 2u);
    EXPECT_EQ(poEngine->SetCaptureDeviceIndex(4), 2u);
    EXPECT_EQ(poEngine->SetRenderDeviceIndex(-1), 2u);
    EXPECT_EQ(poEngine->SetRenderDeviceIndex(2), 2u);
    char szName[64] = "untouched";
    EXPECT_EQ(poEngine->GetRenderDeviceName(2, szName), 2u);
    EXPECT_EQ(poEngine->GetRenderDeviceName(1, szName), 0u);
    EXPECT_STREQ(szName, "Speaker 1");
    ASSERT_EQ(poEngine->SetRenderDeviceIndex(0), 0u);

    // The selection shows in the device indexes the next setup writes.
    const auto Applied = [&] {
        m_oDsp.m_vecCalls.clear();
        return poEngine->Init(1, 16000, 16, 0) == 0 ? IndexWrite() : "unchanged";
    };
    EXPECT_EQ(poEngine->SelectDefaultCaptureDevice(), 0u);
    EXPECT_EQ(Applied(), "set 4 vt3 1");
    EXPECT_EQ(poEngine->SelectCaptureDeviceByName("Mic 0"), 0u);
    EXPECT_EQ(Applied(), "set 4 vt3 0") << "the earlier of two with one name";
    EXPECT_EQ(poEngine->SelectCaptureDeviceByName("mic 3"), 0u);
    EXPECT_EQ(Applied(), "unchanged") << "names compare with their case";
    EXPECT_EQ(poEngine->SelectCaptureDeviceByName("Mic 3"), 0u);
    EXPECT_EQ(Applied(), "set 4 vt3 3");
    const std::vector<UINT> vecCodePages = m_oPlatform.CodePages();
    EXPECT_FALSE(vecCodePages.empty());
    EXPECT_EQ(std::count(vecCodePages.begin(), vecCodePages.end(), CP_THREAD_ACP),
              static_cast<long>(vecCodePages.size()));
}

}  // namespace
