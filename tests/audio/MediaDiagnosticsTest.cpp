// libav's own messages: kept off the terminal, errors handed to the reader.

#include <gtest/gtest.h>

#include <string>
#include <thread>

extern "C" {
#include <libavutil/log.h>
}

#include "audio/MediaDiagnostics.h"
#include "audio/PCMStream.h"
#include "core/Files.h"
#include "support/TestSupport.h"

TEST(LibavLog, WarningsAreDroppedAndErrorsKeptPerThreadOffTheTerminal) {
    audio::routeLibavLog();
    audio::takeLibavError();
    testing::internal::CaptureStderr();
    av_log(nullptr, AV_LOG_INFO, "a banner\n");
    av_log(nullptr, AV_LOG_WARNING, "a warning\n");
    EXPECT_EQ(audio::takeLibavError(), "");
    av_log(nullptr, AV_LOG_ERROR, "first error\n");
    av_log(nullptr, AV_LOG_ERROR, "Invalid data found\n");
    std::string elsewhere = "unset";
    std::thread other([&] { elsewhere = audio::takeLibavError(); });
    other.join();
    EXPECT_EQ(elsewhere, ""); // another thread's read doesn't take this one's error
    EXPECT_EQ(audio::takeLibavError(), "Invalid data found");
    EXPECT_EQ(audio::takeLibavError(), ""); // taken once
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(LibavLog, AnUnreadableFileSaysWhyWithoutPrinting) {
    const testsupport::TempDir dir;
    core::writeFileAtomically(dir / "notes.wav", std::string(4096, 'x'));
    testing::internal::CaptureStderr();
    try {
        audio::PCMStream::format(dir / "notes.wav");
        ADD_FAILURE() << "a text file was read as audio";
    } catch (const audio::PCMStream::StreamError& e) {
        EXPECT_NE(std::string(e.what()).find("notes.wav"), std::string::npos) << e.what();
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}
