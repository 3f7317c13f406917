/* The program of scripts/probe-win32.sh: a 32-bit Windows console program
   that answers with one line when it really runs. */
#include <stdio.h>
#include <windows.h>

int main(void) {
  SYSTEM_INFO info;
  GetNativeSystemInfo(&info);
  printf("qv-probe: %u-bit program, processor architecture %u\n", (unsigned)(sizeof(void *) * 8),
         (unsigned)info.wProcessorArchitecture);
  return 0;
}
