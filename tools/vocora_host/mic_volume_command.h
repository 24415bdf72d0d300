// vocora-host mic-volume: reads, and optionally sets, the system microphone
// level through a capture handle of vocora.dll.
#ifndef VOCORA_TOOLS_MIC_VOLUME_COMMAND_H
#define VOCORA_TOOLS_MIC_VOLUME_COMMAND_H

// argv[0] is "mic-volume"; returns the process's exit status (0 only when
// every call succeeded, 2 for bad options).
int RunMicVolume(int argc, char** argv);

// The lines of the usage text that describe mic-volume.
const char* MicVolumeUsage();

#endif
