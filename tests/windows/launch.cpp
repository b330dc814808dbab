// A test tool for Wine: starts a program with an exact command line, which
// `wine PROGRAM ARGS` cannot do as it quotes and joins the arguments itself.
//
//   launch FILE
//
// FILE holds the program's path on its first line and the whole command line
// (program name included, any bytes but the line end) on its second. The
// exit status is the program's, or 120 and up when it could not be started.
#include <windows.h>

#include <stdio.h>
#include <string.h>

static char buffer[65536];

static char* CutLine(char* text) {
  char* end = strchr(text, '\n');
  if (end == 0) return 0;
  if (end > text && end[-1] == '\r') end[-1] = '\0';
  *end = '\0';
  return end + 1;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: launch FILE\n");
    return 120;
  }
  FILE* file = fopen(argv[1], "rb");
  if (file == 0) {
    fprintf(stderr, "launch: cannot open %s\n", argv[1]);
    return 121;
  }
  size_t size = fread(buffer, 1, sizeof buffer - 1, file);
  fclose(file);
  buffer[size] = '\0';

  char* application = buffer;
  char* commandLine = CutLine(application);
  if (commandLine == 0) {
    fprintf(stderr, "launch: %s needs two lines\n", argv[1]);
    return 122;
  }
  CutLine(commandLine);  // an ending line break is not part of it

  STARTUPINFOA startup;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(application, commandLine, 0, 0, FALSE, 0, 0, 0, &startup,
                      &process)) {
    fprintf(stderr, "launch: cannot start %s (error %lu)\n", application,
            GetLastError());
    return 123;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 123;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(status);
}
