// Postwatch entry point. The command line is built up as the engine grows.
#include <cstdio>

int main(int, char**)
{
    std::fprintf(stderr, "postwatch: nothing to do yet\n");
    return 2;
}
