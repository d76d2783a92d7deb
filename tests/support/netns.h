#pragma once
// Network namespaces for tests and benchmarks that need the real network
// layer: whatever they send stays inside a namespace they made themselves.

// Moves the calling process into a new, empty network namespace (loopback
// down); false when the system does not allow it.
bool enterNewNetworkNamespace();
// Brings the loopback interface of the current namespace up.
bool setLoopbackUp();
