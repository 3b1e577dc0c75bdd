// The deployment tests' scan stand-in and fixture, shared by the portable tests and the
// POSIX-only ones (files that must not be rewritten, deployments at the same time): one
// fixture class for the one test suite.
#pragma once

#include <vector>

#include "config/deploy.h"
#include "profile_fixture.h"

namespace configtest {

// A finished scan as the deployment sees it: ports by type, in preference order.
struct FakeScan {
    struct Port {
        int index, baud, type;
    };
    std::vector<Port> ports;  // already in preference order
    size_t cursor = 0;
    int reads = 0;
};
inline FakeScan scan;

inline int Next(int* port, int* baud, int type) {
    while (scan.cursor < scan.ports.size()) {
        const FakeScan::Port& p = scan.ports[scan.cursor++];
        if (p.type == type) {
            *port = p.index;
            if (baud) *baud = p.baud;
            return 1;
        }
    }
    *port = -1;
    if (baud) *baud = 0;
    return 0;
}

inline int First(int* baud, int type) {
    scan.cursor = 0;
    int port = -1;
    Next(&port, baud, type);
    return port;
}

class DeployTest : public ProfileFileTest {
  protected:
    void SetUp() override {
        ProfileFileTest::SetUp();
        scan = FakeScan{};
    }
    int Deploy() {
        failures[0] = 0;
        return DeployFindings(W(ini).c_str(), First, Next, failures, 1024);
    }
    // The example bench: GPS on COM1 at 9600 and COM4 at 4800, radar on COM2 at 4800,
    // the virtual port driver free at 6 and 9.
    void ExampleBench() {
        scan.ports = {{1, 9600, 2}, {4, 4800, 2}, {6, 0, 4}, {2, 4800, 3}, {9, 0, 4}};
    }
    WCHAR failures[1024];
};

}  // namespace configtest
