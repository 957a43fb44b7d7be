// externalcompute.cpp - the template's one working entry point.
//
// The host calls func_externalcompute once per time step. As delivered it
// only resets the two control flags when the flag argument is 0. Like the
// placeholders it lives in the template archive (as the body the export
// forwards to), so a user library that defines its own
// func_externalcompute replaces it.

#include "../exchange/exchange.h"

extern "C" void vulmora_impl_externalcompute(void *unused, int flag);

extern "C" void vulmora_impl_externalcompute(void *, int flag) {
    if (flag == 0) {
        tnodecontrol = 0;
        vnodecontrol = 0;
    }
}
