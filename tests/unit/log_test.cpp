// The logging unit on its own: what reaches the callback, and what the two
// setters accept.
#include <gtest/gtest.h>

#include "log/log.h"
#include "log_capture.h"

namespace {

class LogTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(Log_SetLogCallback(CLogCapture::Callback()), VOCORA_OK);
        ASSERT_EQ(Log_SetLogLevel(VOCORA_LOG_INFO), VOCORA_OK);
    }

    CLogCapture m_oLog;
};

TEST_F(LogTest, DeliversOriginAndArgumentsUnchanged)
{
    int iContext = 0;
    Log_Print(&iContext, 3, "src/x/y.cpp", 4242, "CThing::Do", "a=%d b=%s c=0x%x", -7, "text",
              0xBEEFu);

    const auto vecRecords = m_oLog.Records();
    ASSERT_EQ(vecRecords.size(), 1u);
    EXPECT_EQ(vecRecords[0].pContext, &iContext);
    EXPECT_EQ(vecRecords[0].lLevel, 3);
    EXPECT_EQ(vecRecords[0].strFile, "src/x/y.cpp");
    EXPECT_EQ(vecRecords[0].ulLine, 4242u);
    EXPECT_EQ(vecRecords[0].strFunction, "CThing::Do");
    EXPECT_EQ(vecRecords[0].strFormat, "a=%d b=%s c=0x%x");
    EXPECT_EQ(vecRecords[0].strText, "a=-7 b=text c=0xbeef");
}

// Which message levels get through at each setting: 0 < level <= setting.
TEST_F(LogTest, FiltersByLevelAtEverySetting)
{
    const int32_t alMessageLevels[] = {-1, 0, 1, 2, 3, 4, 5, 6};
    for (int32_t lSetting = 0; lSetting <= 5; ++lSetting) {
        ASSERT_EQ(Log_SetLogLevel(lSetting), VOCORA_OK);
        m_oLog.Clear();
        for (int32_t lLevel : alMessageLevels) {
            Log_Print(nullptr, lLevel, "f", 1, "fn", "level %d", lLevel);
        }
        std::vector<int32_t> vecDelivered;
        for (const LogRecord& stRecord : m_oLog.Records()) {
            vecDelivered.push_back(stRecord.lLevel);
        }
        std::vector<int32_t> vecExpected;
        for (int32_t lLevel = 1; lLevel <= lSetting; ++lLevel) {
            vecExpected.push_back(lLevel);
        }
        EXPECT_EQ(vecDelivered, vecExpected) << "setting " << lSetting;
    }
}

TEST_F(LogTest, RejectsLevelsOutsideZeroToFiveAndKeepsTheCurrentOne)
{
    ASSERT_EQ(Log_SetLogLevel(2), VOCORA_OK);
    for (int32_t lBad : {-1, 6, 9, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(Log_SetLogLevel(lBad), VOCORA_ERR_INVALID_ARG) << lBad;
    }
    EXPECT_TRUE(m_oLog.Records().empty()) << "rejecting a level is silent";

    Log_Print(nullptr, 3, "f", 1, "fn", "dropped at level 2");
    Log_Print(nullptr, 2, "f", 1, "fn", "kept at level 2");
    const auto vecRecords = m_oLog.Records();
    ASSERT_EQ(vecRecords.size(), 1u);
    EXPECT_EQ(vecRecords[0].strText, "kept at level 2");
}

TEST_F(LogTest, NullCallbackIsReportedThroughTheInstalledOneWhichStays)
{
    EXPECT_EQ(Log_SetLogCallback(nullptr), VOCORA_ERR_INVALID_ARG);

    const auto vecRecords = m_oLog.Records();
    ASSERT_EQ(vecRecords.size(), 1u);
    EXPECT_EQ(vecRecords[0].lLevel, VOCORA_LOG_ERROR);
    EXPECT_EQ(vecRecords[0].strFunction, "Log_SetLogCallback");
    EXPECT_EQ(vecRecords[0].strFormat, "%s Can't Be NULL.");
    EXPECT_EQ(vecRecords[0].strText, "pfLogCB Can't Be NULL.");
    EXPECT_EQ(vecRecords[0].strFile, "src/log/log.cpp");

    Log_Print(nullptr, 4, "f", 1, "fn", "still here");
    EXPECT_EQ(m_oLog.Records().size(), 2u);
}

}  // namespace
