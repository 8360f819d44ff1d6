// share-sim: the loopback share service the demo, the end-to-end tests and the benchmarks
// run against. See HelpText() for what it serves.

#include <pthread.h>
#include <signal.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "http_server.h"
#include "options.h"
#include "share_service.h"

int main(int argc, char** argv) {
    std::string error;
    const auto options = sharesim::ParseOptions(argc, argv, error);
    if (!options) {
        std::cerr << "share-sim: " << error << "\n";
        return 2;
    }
    if (options->help) {
        std::cout << sharesim::HelpText();
        return 0;
    }
    std::error_code ec;
    if (!std::filesystem::is_directory(options->root, ec)) {
        std::cerr << "share-sim: not a folder: " << options->root << "\n";
        return 2;
    }

    // The stop signals are taken by sigwait below, never by a handler, so stopping runs as
    // ordinary code. Every thread started from here inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::unique_ptr<sharesim::ShareService> service;
    sharesim::HttpServer server(
        [&service](const sharesim::HttpRequest& request, sharesim::Connection& connection) {
            return service->Handle(request, connection);
        });
    const int port = server.Listen(options->host, options->port, error);
    if (port < 0) {
        std::cerr << "share-sim: " << error << "\n";
        return 1;
    }
    service = std::make_unique<sharesim::ShareService>(*options, port);
    std::printf("share-sim listening on %s:%d\n", options->host.c_str(), port);
    std::fflush(stdout);

    std::thread acceptor([&server] { server.Run(); });
    int signalNumber = 0;
    sigwait(&stopSignals, &signalNumber);
    server.Stop();
    acceptor.join();
    return 0;
}
