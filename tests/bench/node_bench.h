// What the two node benchmarks share: the headless program on Linux (node_bench_headless.cpp)
// and the real Skiplane.exe under Wine (node_bench_wine.cpp) start from the same config.ini of
// many nodes, take the same arguments, run the same number of times and print the same lines,
// so their figures compare line for line. Header only: it builds with g++ and with MinGW.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

namespace bench {

// A config.ini of that many nodes (remarks nodeK, servers 10.0.x.y), the first one current.
inline std::string NodesConfig(int nodes) {
    std::string file =
        "[NodeList]\r\nQuantity=" + std::to_string(nodes) + "\r\nCurrent node=0\r\n";
    for (int i = 1; i <= nodes; ++i)
        file += "[Node" + std::to_string(i) + "]\r\nremarks=node" + std::to_string(i) +
                "\r\nlocal_port=1080\r\nserver_port=4000\r\nserver=10.0." +
                std::to_string(i / 250) + "." + std::to_string(i % 250) +
                "\r\nkey=k\r\nmode=3\r\ndscp=\r\nother=\r\n";
    return file;
}

// The value of --name=N among the arguments, or fallback; arguments of other names are left
// to whoever reads them.
inline int IntArg(int argc, char** argv, const char* name, int fallback) {
    const std::string prefix = std::string("--") + name + "=";
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], prefix.c_str(), prefix.size()) == 0)
            return std::atoi(argv[i] + prefix.size());
    return fallback;
}

// The lines both print; where is "host" or "wine".
inline void PrintStart(const char* where, int nodes, double ms) {
    std::printf("%s: start with %d nodes: %.1f ms\n", where, nodes, ms);
    std::fflush(stdout);
}
inline void PrintDelete(const char* where, int nodes, double ms) {
    std::printf("%s: delete the first of %d nodes: %.1f ms\n", where, nodes, ms);
    std::fflush(stdout);
}

// Reads --nodes=N (default 1000, at least 2) and --runs=N (default 3, at least 1) and calls
// run(nodes) that many times, each in a fresh folder of its own. run gives false, with the
// reason printed, when a step never completes. The exit status: 0 when every run completed,
// 1 when one did not, 2 for bad arguments.
inline int RunNodeBench(int argc, char** argv, const std::function<bool(int nodes)>& run) {
    const int nodes = IntArg(argc, argv, "nodes", 1000);
    const int runs = IntArg(argc, argv, "runs", 3);
    if (nodes < 2 || runs < 1) {
        std::fprintf(stderr, "--nodes must be 2 or more and --runs 1 or more\n");
        return 2;
    }
    int failed = 0;
    for (int i = 1; i <= runs; ++i) {
        std::printf("run %d of %d\n", i, runs);
        std::fflush(stdout);
        if (!run(nodes)) ++failed;
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace bench
