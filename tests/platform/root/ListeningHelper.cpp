// A stand-in privileged helper for the service-manager tests: it listens on /var/run/<its own file
// name>.socket, as an installed agent does, and accepts and closes connections until it is stopped. It is a
// real daemon, started by the real service manager, and says where it listens on its standard output. Built
// with QVT_HELPER_KEEPS_CONNECTIONS it keeps every connection open and never answers: an agent that hangs.
#include <cstdio>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

int main(int, char** argv) {
    std::string name = argv[0];
    name = name.substr(name.find_last_of('/') + 1);
    const std::string path = "/var/run/" + name + ".socket";
    ::unlink(path.c_str());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        return 1;
    // Said before it listens: once a client gets through, the line is written.
    std::printf("listening on %s\n", path.c_str());
    std::fflush(stdout);
    if (::listen(fd, 8) != 0)
        return 1;
    std::vector<int> open;
    for (;;) {
        const int client = ::accept(fd, nullptr, nullptr);
#ifdef QVT_HELPER_KEEPS_CONNECTIONS
        if (client >= 0)
            open.push_back(client);
#else
        if (client >= 0)
            ::close(client);
#endif
    }
}
