// Not part of the program: an object that allocates in each way the
// allocation check looks for, so that the check itself is checked. It also
// calls plain C library functions, which must not be reported. Compiled,
// never linked.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

void sample_keep(void* p); // keeps each allocation from being optimised away

int sample_allocations(const char* text, char* out, size_t out_cap)
{
    char* a = (char*)malloc(16);
    sample_keep(a);
    char* b = (char*)calloc(4, 4);
    sample_keep(b);
    a = (char*)realloc(a, 32);
    sample_keep(a);
    char* c = strdup(text);
    sample_keep(c);
    int* one = new int(1);
    sample_keep(one);
    int* many = new int[4]();
    sample_keep(many);
    std::string s(text); // the C++ library allocates behind its calls
    s += text;
    sample_keep(&s);
    int n = snprintf(out, out_cap, "%s%d", c, (int)strlen(text));
    delete one;
    delete[] many;
    free(a);
    free(b);
    free(c);
    return n;
}
