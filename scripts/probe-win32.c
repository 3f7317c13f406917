/* The program of scripts/probe-win32.sh: a 32-bit Windows console program
   that answers with one line when it really runs.

   With --hold-desktop it joins Wine's desktop instead (which starts the
   desktop when there is none), says so, and stays until it is ended. Wine
   closes its desktop a second after the last program on it ends, and the
   next program that needs it starts it again but waits for it only 10 s:
   under emulation that can take longer, and the program's message boxes
   then fail. Holding the desktop for a whole test run avoids both. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static int hold_desktop(void) {
  /* Each try may start the desktop and wait up to 10 s for it. */
  for (int i = 0; i < 30; ++i) {
    if (GetDesktopWindow() != NULL) {
      printf("qv-probe: desktop ready\n");
      fflush(stdout);
      Sleep(INFINITE);
    }
    Sleep(1000);
  }
  printf("qv-probe: no desktop\n");
  return 1;
}

int main(int argc, char **argv) {
  if (argc > 1 && strcmp(argv[1], "--hold-desktop") == 0) return hold_desktop();
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  printf("qv-probe: %u-bit program, processor architecture %u\n", (unsigned)(sizeof(void *) * 8),
         (unsigned)info.wProcessorArchitecture);
  return 0;
}
