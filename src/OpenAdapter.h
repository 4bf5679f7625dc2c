// OpenAdapter: the process-wide GPU roles.
//
// Index 0 is the GPU whose adapter the runtime opens (it owns the display); index 1 is the
// other GPU, which the system opens itself. The roles say which of them renders and which
// presents. They are fixed once at process start-up and never change afterwards.
#pragma once

/// The GPU roles behind every per-GPU decision. The adapter entry and its object
/// registries build on this class.
class OpenAdapter {
public:
    /// Index of the GPU that renders the application's frames; -1 before start-up.
    static int renderingGPU() { return s_renderingGPU; }
    /// Index of the GPU that presents them on its display; -1 before start-up.
    static int presentingGPU() { return s_presentingGPU; }

    /// Sets both roles. Called once, by the process start-up (initProcess).
    static void setGpuRoles(int rendering, int presenting);

private:
    static int s_renderingGPU;
    static int s_presentingGPU;
};
