// A program that crashes on request, so the rig can prove that a crash under
// Wine fails the test that ran it.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc > 1 && std::strcmp(argv[1], "crash") == 0) {
        volatile int* piNowhere = nullptr;
        *piNowhere = 1;
    }
    std::puts("no crash");
    return 0;
}
