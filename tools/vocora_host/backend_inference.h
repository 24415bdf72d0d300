// Which backend stands behind a handle, worked out from what the library
// logged while the handle was created (and, for playback, destroyed): the
// library offers no call that says. It relies on informational messages, so
// the session must log at VOCORA_LOG_INFO, as CVocoraSession sets it.
//
//   DirectSound player    its creation logs from CDirectSoundPlay::Init
//   waveOut player        its creation logs nothing when it succeeds; its
//                         destruction logs from CWaveOutPlay::Close
//   DirectSound capture   its creation logs from CDirectSoundCapture::Init
//   echo-cancelling       its creation logs nothing from there; a set-up that
//                         fails logs from CAecAudioCapture::Init and falls
//                         back to DirectSound capture
#ifndef VOCORA_TOOLS_BACKEND_INFERENCE_H
#define VOCORA_TOOLS_BACKEND_INFERENCE_H

#include <cstdint>
#include <string>
#include <vector>

#include "log_watch.h"

enum class EPlayBackend { kUnknown, kDirectSound, kWaveOut };
enum class ECaptureBackend { kUnknown, kEchoCancelling, kDirectSound };

// vecRecords: the messages of the creation (and of the destruction, if it
// has happened). A failed creation that logged nothing is kUnknown: silence
// only means waveOut when the handle came into being.
EPlayBackend PlayBackendFromLog(const std::vector<LogRecord>& vecRecords, bool bCreated);
ECaptureBackend CaptureBackendFromLog(const std::vector<LogRecord>& vecRecords,
                                      uint32_t ulSelector, bool bCreated);

// The text of the first message from pszFunction, or "".
std::string FirstMessageFrom(const std::vector<LogRecord>& vecRecords, const char* pszFunction);

// One line each for the user: what the handle got and, when it is not the
// first choice, why. vecInit: the messages of Vocora_Init, where the probes
// say why a backend is not offered; vecCreate: those of the creation;
// ulChannels: what the capture handle was asked for.
std::string DescribePlayBackend(EPlayBackend ePlay, bool bForcedWaveOut,
                                const std::vector<LogRecord>& vecInit);
std::string DescribeCaptureBackend(ECaptureBackend eCapture, uint32_t ulSelector,
                                   uint32_t ulChannels, const std::vector<LogRecord>& vecInit,
                                   const std::vector<LogRecord>& vecCreate);

#endif
