// Demo stand-in for the capture program: says what it would record and
// writes a small file at the output name it is given, so that a second run of
// the same recording shows the numbered name.
#include <stdio.h>

int main(int argc, char** argv)
{
    if (argc < 4) {
        (void)fprintf(stderr, "usage: zarnivek OUTPUT @SOURCE WINDOW\n");
        return 2;
    }
    printf("zarnivek: would record source %s during %s into '%s'\n", argv[2], argv[3], argv[1]);
    FILE* out = fopen(argv[1], "wb");
    if (!out) {
        perror(argv[1]);
        return 3;
    }
    bool written = fprintf(out, "demo recording of source %s during %s\n", argv[2], argv[3]) > 0;
    return fclose(out) == 0 && written ? 0 : 3;
}
