// vocora-host play: plays a 16-bit PCM WAV file or a generated sine through
// vocora.dll at real-time pace.
#ifndef VOCORA_TOOLS_PLAY_COMMAND_H
#define VOCORA_TOOLS_PLAY_COMMAND_H

// argv[0] is "play"; returns the process's exit status (0 only when every
// block was accepted and the handle came down cleanly, 2 for bad options).
int RunPlay(int argc, char** argv);

// The lines of the usage text that describe play.
const char* PlayUsage();

#endif
