/* SPDX-License-Identifier: MIT */
/* A program as VISA programs are written, built against the installed
 * library with "pkg-config --cflags --libs corvalen-visa": identity, a
 * setting written and read back with formatted I/O, the error queue.
 *   visa_program RESOURCE */
#include <stdio.h>
#include <visa.h>

static int failed(ViSession vi, ViStatus status, const char* what) {
    ViChar text[256];
    if (status >= VI_SUCCESS) return 0;
    viStatusDesc(vi, status, text);
    fprintf(stderr, "%s: %s\n", what, text);
    return 1;
}

int main(int argc, char** argv) {
    ViSession rm, vi;
    ViChar idn[256], message[256];
    ViInt32 count = 0, code = -1;
    ViReal64 timer = 0.0;
    if (argc != 2) {
        fprintf(stderr, "usage: visa_program RESOURCE\n");
        return 2;
    }
    if (failed(VI_NULL, viOpenDefaultRM(&rm), "viOpenDefaultRM")) return 1;
    if (failed(rm, viOpen(rm, argv[1], VI_NULL, VI_NULL, &vi), "viOpen")) return 1;
    if (failed(vi, viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000), "viSetAttribute")) return 1;
    if (failed(vi, viPrintf(vi, "*IDN?\n"), "viPrintf")) return 1;
    if (failed(vi, viScanf(vi, "%t", idn), "viScanf")) return 1;
    printf("%s", idn);
    if (failed(vi, viPrintf(vi, "TRIGger:COUNt %d;:TRIGger:TIMer %.2f\n", 7, 2.5), "viPrintf")) return 1;
    if (failed(vi, viQueryf(vi, "TRIGger:COUNt?\n", "%d", &count), "viQueryf")) return 1;
    if (failed(vi, viQueryf(vi, "TRIGger:TIMer?\n", "%lf", &timer), "viQueryf")) return 1;
    if (failed(vi, viQueryf(vi, "SYSTem:ERRor?\n", "%d,%t", &code, message), "viQueryf")) return 1;
    printf("count %d timer %g error %d %s", (int)count, timer, (int)code, message);
    viClose(vi);
    viClose(rm);
    return 0;
}
