#include "mdlTaskbar.h"

#include <shobjidl.h>

namespace mdlTaskbar {

void ShowOnTaskbar(HWND window, int state, std::size_t done, std::size_t total) {
    static ITaskbarList3* const taskbar = [] {
        ITaskbarList3* made = nullptr;
        if (SUCCEEDED(::CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_PPV_ARGS(&made))) &&
            FAILED(made->HrInit())) {
            made->Release();
            made = nullptr;
        }
        return made; // kept for the process
    }();
    if (taskbar == nullptr) {
        return;
    }
    taskbar->SetProgressState(window, static_cast<TBPFLAG>(state));
    if (state == TBPF_NORMAL) {
        taskbar->SetProgressValue(window, done, total);
    }
}

} // namespace mdlTaskbar
