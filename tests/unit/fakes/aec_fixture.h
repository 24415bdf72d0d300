// Echo-cancelling capture against fakes: the voice-capture DSP and the device
// enumerator behind the faked CoCreateInstance, on a machine with one
// microphone and one loudspeaker unless a test says otherwise. DirectSound is
// faked too, for the fallback. At the end every reference, allocation, piece
// of task memory, media type and timer a test caused must be given back.
#ifndef VOCORA_TESTS_AEC_FIXTURE_H
#define VOCORA_TESTS_AEC_FIXTURE_H

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "aec/aceaudiocapture.h"
#include "aec/aec_ids.h"
#include "aec/aec_mic_array_capture.h"
#include "fakes/directsound_fixture.h"
#include "fakes/fake_mmdevice.h"
#include "fakes/fake_voice_dsp.h"

using EnginePtr = std::unique_ptr<CAecMicArrayCapture>;

// Everything the engine reported, in order.
class CEventSink : public IAecCaptureEvent {
public:
    struct Block {
        const uint8_t* pucData;
        std::vector<uint8_t> vecBytes;
        uint32_t ulSampleRate;
        uint32_t ulFlag;
    };
    std::vector<Block> m_vecBlocks;
    int m_iDisconnects = 0;

    uint32_t OnCaptureData(const uint8_t* pucData, uint32_t ulLength, uint32_t ulSampleRate,
                           uint32_t ulFlag) override
    {
        m_vecBlocks.push_back({pucData, {pucData, pucData + ulLength}, ulSampleRate, ulFlag});
        return 0;
    }
    uint32_t OnMicDisConnect() override
    {
        ++m_iDisconnects;
        return 0;
    }
};

class AecTest : public DirectSoundTest {
protected:
    void SetUp() override
    {
        DirectSoundTest::SetUp();
        m_oPlatform.ProvideClass(kClsidWMAudioAec, [this](REFIID riid, void** ppv) {
            return m_oDsp.Create(riid, ppv);
        });
        m_oPlatform.ProvideClass(kClsidMMDeviceEnumerator, [this](REFIID riid, void** ppv) {
            return m_oEnumerator.Create(riid, ppv);
        });
        SetMachine(1, 1);
    }

    void TearDown() override
    {
        DirectSoundTest::TearDown();
        EXPECT_EQ(m_oDsp.References(), 0);
        EXPECT_EQ(m_oEnumerator.References(), 0);
        EXPECT_EQ(m_oPlatform.OutstandingTaskMemory(), 0u);
        EXPECT_EQ(m_oPlatform.MediaTypes().iFrees, m_oPlatform.MediaTypes().iInits);
        const std::vector<std::string>& vecCalls = Timer().vecCalls;
        const auto Count = [&](const std::string& strPrefix) {
            return std::count_if(vecCalls.begin(), vecCalls.end(), [&](const std::string& strCall) {
                return strCall.compare(0, strPrefix.size(), strPrefix) == 0;
            });
        };
        EXPECT_EQ(Count("begin 20"), Count("end 20"));
        EXPECT_EQ(Count("kill "), static_cast<long>(Timer().ulId)) << "every timer set is killed";
    }

    CFakeEndpointList& Mics() { return m_oEnumerator.m_oCapture; }
    CFakeEndpointList& Speakers() { return m_oEnumerator.m_oRender; }
    FakeTimer& Timer() { return m_oPlatform.Timer(); }
    // The timer calls since the last mark.
    std::vector<std::string> TimerCalls()
    {
        const std::vector<std::string>& vecCalls = Timer().vecCalls;
        return {vecCalls.begin() + static_cast<ptrdiff_t>(m_ulTimerMark), vecCalls.end()};
    }
    void MarkTimer() { m_ulTimerMark = Timer().vecCalls.size(); }

    // "Mic 0".., "Speaker 0"..; the last microphone is the default one.
    void SetMachine(size_t ulMics, size_t ulSpeakers)
    {
        Mics().m_vecEndpoints.clear();
        Speakers().m_vecEndpoints.clear();
        for (size_t i = 0; i < ulMics; ++i) {
            Mics().Add(L"Mic " + std::to_wstring(i));
        }
        for (size_t i = 0; i < ulSpeakers; ++i) {
            Speakers().Add(L"Speaker " + std::to_wstring(i));
        }
        Mics().m_ulDefault = ulMics > 0 ? ulMics - 1 : 0;
    }

    EnginePtr NewEngine()
    {
        EnginePtr poEngine(new (std::nothrow) CAecMicArrayCapture());
        poEngine->EnumDevices();
        return poEngine;
    }

    // Set up with the DSP, reporting to m_oSink.
    EnginePtr ReadyEngine()
    {
        EnginePtr poEngine = NewEngine();
        EXPECT_EQ(poEngine->Init(1, 16000, 16, 0), 0u);
        poEngine->AddEventSink(&m_oSink);
        m_oDsp.m_vecCalls.clear();
        return poEngine;
    }

    int DspCreations() const
    {
        const auto vecCalls = m_oPlatform.CoCreateCalls();
        return static_cast<int>(std::count_if(vecCalls.begin(), vecCalls.end(), [](const auto& stCall) {
            return stCall.stClsid == kClsidWMAudioAec;
        }));
    }

    // The device-indexes write of the DSP's last setup, "" if there was none.
    std::string IndexWrite() const
    {
        for (const std::string& strCall : m_oDsp.m_vecCalls) {
            if (strCall.compare(0, 6, "set 4 ") == 0) {
                return strCall;
            }
        }
        return "";
    }

    CFakeVoiceDsp m_oDsp;
    CFakeDeviceEnumerator m_oEnumerator;
    CEventSink m_oSink;
    size_t m_ulTimerMark = 0;
};

#endif
