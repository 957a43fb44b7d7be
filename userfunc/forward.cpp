// forward.cpp - the exported entry points.
//
// The host calls func_<name>; the body it reaches is vulmora_impl_<name>:
// the user's definition (vulmora_add_user_library compiles the user's
// sources with func_<name> renamed so), else the template's placeholder.
// Each export is one forwarding call, one per entry of the list, between
// the capture's hooks (dormant unless VULMORA_CAPTURE is set: one compare
// each).

#include "../include/vulmora/vulmora_entry_points.h"
#include "../exchange/export.h"
#include "../runtime/capture.h"

extern "C" {

#define VULMORA_FORWARD_PROPERTY(name)                                                             \
    double vulmora_impl_##name(int node);                                                          \
    VULMORA_EXPORT double func_##name(int node);                                                   \
    double func_##name(int node) {                                                                 \
        vulmora_capture_before(#name, node);                                                       \
        return vulmora_capture_after(vulmora_impl_##name(node));                                   \
    }
#define VULMORA_FORWARD_STEP(name)                                                                 \
    void vulmora_impl_##name(void *unused, int flag);                                              \
    VULMORA_EXPORT void func_##name(void *unused, int flag);                                       \
    void func_##name(void *unused, int flag) {                                                     \
        vulmora_capture_before(#name, flag);                                                       \
        vulmora_impl_##name(unused, flag);                                                         \
        vulmora_capture_after_void();                                                              \
    }
#define VULMORA_FORWARD(name, kind, mode, quantity) VULMORA_FORWARD_##kind(name)

VULMORA_ENTRY_POINTS(VULMORA_FORWARD)

} // extern "C"
