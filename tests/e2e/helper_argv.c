/* A user command that records how it was called, as another program on the machine would:
 *   helper_argv OUTFILE [ARG...]
 * appends one record to OUTFILE: its working directory and then each ARG, every one
 * followed by a NUL, the record closed by an RS byte (0x1E). The elements are written
 * byte for byte, so a test sees exactly what reached the program's argv.
 * Exit 0 when the record was written, 1 otherwise, 2 on usage errors. */
#include <stdio.h>
#include <string.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs("usage: helper_argv OUTFILE [ARG...]\n", stderr);
        return 2;
    }
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) strcpy(cwd, "?");
    FILE* f = fopen(argv[1], "ab");
    if (!f) return 1;
    fwrite(cwd, 1, strlen(cwd) + 1, f);
    for (int i = 2; i < argc; i++)
        fwrite(argv[i], 1, strlen(argv[i]) + 1, f);
    fputc(0x1E, f);
    return fclose(f) == 0 ? 0 : 1;
}
