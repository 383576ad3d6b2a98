/* SPDX-License-Identifier: MIT */
/* Round trips of "DATA:POINts?" as a VISA C program makes them (viPrintf,
 * viScanf "%d") through libcorvalen-visa; writes "ROW microseconds" lines.
 *   visa_c_round_trips RESOURCE ROW COUNT SAMPLES */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <visa.h>

static double now_us(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec * 1e6 + (double)t.tv_nsec / 1e3;
}

int main(int argc, char** argv) {
    ViSession rm, vi;
    ViInt32 points = 0;
    FILE* out;
    long count, i;
    if (argc != 5) {
        fprintf(stderr, "usage: visa_c_round_trips RESOURCE ROW COUNT SAMPLES\n");
        return 2;
    }
    count = strtol(argv[3], NULL, 10);
    if (viOpenDefaultRM(&rm) < VI_SUCCESS || viOpen(rm, argv[1], VI_NULL, VI_NULL, &vi) < VI_SUCCESS) {
        fprintf(stderr, "cannot open %s\n", argv[1]);
        return 1;
    }
    viSetAttribute(vi, VI_ATTR_TMO_VALUE, 5000);
    out = fopen(argv[4], "w");
    if (out == NULL) return 1;
    for (i = -50; i < count; ++i) { /* 50 to warm up */
        double start = now_us();
        if (viPrintf(vi, "DATA:POINts?\n") < VI_SUCCESS || viScanf(vi, "%d", &points) < VI_SUCCESS) {
            fprintf(stderr, "round trip %ld failed\n", i);
            return 1;
        }
        if (i >= 0) fprintf(out, "%s %.3f\n", argv[2], now_us() - start);
    }
    fclose(out);
    viClose(rm);
    return 0;
}
