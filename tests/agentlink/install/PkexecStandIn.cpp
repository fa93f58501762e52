// A stand-in for pkexec: installed setuid root inside the test sandbox, it runs
// the given program as root with a clean environment, as pkexec does once the
// user has been authorized, and notes each call in /run/qvt-pkexec-calls.
#include <cstdio>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2 || setgid(0) != 0 || setuid(0) != 0)
        return 127;
    if (FILE* calls = std::fopen("/run/qvt-pkexec-calls", "a")) {
        for (int i = 1; i < argc; ++i)
            std::fprintf(calls, i + 1 < argc ? "%s " : "%s\n", argv[i]);
        std::fclose(calls);
    }
    char path[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char* environment[] = {path, nullptr};
    execve(argv[1], argv + 1, environment);
    return 127;
}
