// The Node hosts beside the library in bench_compiler: one node process
// running node_hosts.mjs, kept for warm conversions, and fresh ones for cold
// conversions. Requests and answers are lines on its stdin and stdout.
#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

#include <cstdio>

// What the hosts answer to one request: the time of each conversion in ms,
// the CSS's size in bytes and the warnings the logger received (of the last
// conversion), or the reason it failed; and for a warm request the CPU time
// node and its children (the embedded host's runtime) spent on it, in ms.
struct NodeAnswer {
    std::vector<double> ms;
    double cpuMs = 0;
    double hostCpuMs = 0;  // of node alone
    long bytes = 0;
    long warnings = 0;
    std::string error;
};

class NodeHosts {
public:
    NodeHosts(std::string node, std::string script, std::string modules);
    ~NodeHosts();
    NodeHosts(const NodeHosts&) = delete;
    NodeHosts& operator=(const NodeHosts&) = delete;

    // HOST (embedded or js) converts FILE in its folder RUNS times, warm: the
    // kept process loads each package once.
    NodeAnswer convert(const std::string& host, const std::string& style, int runs, const std::string& file);
    // One conversion in a fresh node process; wallMs is its whole life, from
    // the start of the process to its end.
    NodeAnswer cold(const std::string& host, const std::string& file, double& wallMs);

private:
    // CPU time in ns so far of the kept node process and of its children.
    double cpuNs(double& nodeNs) const;
    // Starts node with ARGS after the script and the modules; its stdin and
    // stdout become the streams given.
    pid_t spawn(const std::vector<std::string>& args, FILE** to, FILE** from) const;
    static NodeAnswer parse(const std::string& line);

    std::string node_, script_, modules_;
    pid_t pid_ = -1;
    FILE* to_ = nullptr;
    FILE* from_ = nullptr;
};
