// A test fixture with DirectSound faked behind the platform table, the log
// captured, and a check at the end that every reference and allocation a test
// obtained was given back.
#ifndef VOCORA_TESTS_DIRECTSOUND_FIXTURE_H
#define VOCORA_TESTS_DIRECTSOUND_FIXTURE_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "common/func_macros.h"
#include "directsound/directsoundcapture.h"
#include "directsound/directsoundplay.h"
#include "fakes/fake_dsound.h"
#include "fakes/fake_dsound_capture.h"
#include "fakes/fake_platform.h"
#include "log/log.h"
#include "log_capture.h"

using PlayerPtr = std::unique_ptr<CDirectSoundPlay>;

const AudioParam kstBlock1024 = {8000, 1, 16, 0};  // B = 1024, staging 40960

class DirectSoundTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(Log_SetLogCallback(CLogCapture::Callback()), VOCORA_OK);
        ASSERT_EQ(Log_SetLogLevel(VOCORA_LOG_INFO), VOCORA_OK);
        FakeDirectSoundCreate::sm_pDevice = &m_oDevice;
        FakeDirectSoundCreate::sm_hrResult = DS_OK;
        FakeDirectSoundCaptureCreate::sm_pDevice = &m_oCaptureDevice;
        FakeDirectSoundCaptureCreate::sm_hrResult = DS_OK;
    }

    // Whatever a test obtained must be given back by the time it ends.
    void TearDown() override
    {
        CloseMixer();
        DirectSoundCaptureCleanup();
        DirectSoundCleanup();
        EXPECT_EQ(m_oDevice.References(), 0);
        if (m_oDevice.Buffer() != nullptr) {
            EXPECT_EQ(m_oDevice.Buffer()->References(), 0);
        }
        EXPECT_EQ(m_oCaptureDevice.References(), 0);
        if (m_oCaptureDevice.Buffer() != nullptr) {
            EXPECT_EQ(m_oCaptureDevice.Buffer()->References(), 0);
        }
        EXPECT_EQ(m_oPlatform.Mixer().iOpens, m_oPlatform.Mixer().iCloses);
        EXPECT_EQ(m_oPlatform.OutstandingAllocations(), 0u);
        EXPECT_EQ(m_oPlatform.OpenHandles(), 0u);
    }

    void ProvideDirectSound(bool bWithEntryPoint = true)
    {
        m_oPlatform.ProvideModule("DSOUND.DLL");
        if (bWithEntryPoint) {
            m_oPlatform.ProvideExport("DirectSoundCreate8", reinterpret_cast<FARPROC>(
                reinterpret_cast<void*>(&FakeDirectSoundCreate::Create)));
            m_oPlatform.ProvideExport("DirectSoundCaptureCreate8", reinterpret_cast<FARPROC>(
                reinterpret_cast<void*>(&FakeDirectSoundCaptureCreate::Create)));
        }
    }

    // Texts of the level-2 messages, in order.
    std::vector<std::string> Errors() const
    {
        std::vector<std::string> vecTexts;
        for (const LogRecord& stRecord : m_oLog.Records()) {
            if (stRecord.lLevel == VOCORA_LOG_ERROR) {
                vecTexts.push_back(stRecord.strText);
            }
        }
        return vecTexts;
    }

    bool Logged(const std::string& strText) const
    {
        for (const LogRecord& stRecord : m_oLog.Records()) {
            if (stRecord.strText == strText) {
                return true;
            }
        }
        return false;
    }

    std::unique_ptr<CDirectSoundPlay> NewPlayer(AudioParam stParam = kstBlock1024,
                                                uint32_t ulExpected = VOCORA_OK)
    {
        std::unique_ptr<CDirectSoundPlay> poPlayer(new (std::nothrow) CDirectSoundPlay());
        EXPECT_EQ(poPlayer->Init(&stParam), ulExpected);
        return poPlayer;
    }

    CFakeSoundBuffer& Buffer() { return *m_oDevice.Buffer(); }
    CFakeCaptureBuffer& CaptureBuffer() { return *m_oCaptureDevice.Buffer(); }

    CLogCapture m_oLog;
    CFakePlatform m_oPlatform;
    CFakeDirectSound m_oDevice;
    CFakeDirectSoundCapture m_oCaptureDevice;
};

#endif
