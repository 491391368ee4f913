// A static file server on 127.0.0.1 for the demo update: serves a directory on a free port
// (or the one given) and prints the port on its first line. A delay per request slows the
// update down enough to watch it.
//
//   kesu-demo-server <directory> [port] [delay in ms per request]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <httplib.h>
#include <thread>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <directory> [port] [delay-ms]\n", argv[0]);
        return 2;
    }
    httplib::Server server;
    server.set_tcp_nodelay(true);
    if (!server.set_mount_point("/", argv[1])) {
        std::fprintf(stderr, "%s: %s is no directory\n", argv[0], argv[1]);
        return 1;
    }
    const int delay = argc > 3 ? std::atoi(argv[3]) : 0;
    if (delay > 0) {
        server.set_pre_routing_handler([delay](const httplib::Request&, httplib::Response&) {
            std::this_thread::sleep_for(std::chrono::milliseconds(delay));
            return httplib::Server::HandlerResponse::Unhandled;
        });
    }
    int port = argc > 2 ? std::atoi(argv[2]) : 0;
    if (port > 0 ? !server.bind_to_port("127.0.0.1", port) : (port = server.bind_to_any_port("127.0.0.1")) <= 0) {
        std::fprintf(stderr, "%s: cannot listen on 127.0.0.1\n", argv[0]);
        return 1;
    }
    std::printf("%d\n", port);
    std::fflush(stdout);
    return server.listen_after_bind() ? 0 : 1;
}
