// vocora-host record: captures from the default microphone through vocora.dll
// into a 16-bit PCM WAV file.
#ifndef VOCORA_TOOLS_RECORD_COMMAND_H
#define VOCORA_TOOLS_RECORD_COMMAND_H

// argv[0] is "record"; returns the process's exit status (0 only when the
// whole duration was recorded and the file and the handle came down cleanly,
// 2 for bad options).
int RunRecord(int argc, char** argv);

// The lines of the usage text that describe record.
const char* RecordUsage();

#endif
