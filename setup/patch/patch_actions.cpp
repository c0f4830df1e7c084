// The nine patch actions: each writes the installation's PatchInfo record
// into one application. The layout version says which device code that
// application understands: 1 and 2 their own codes, 3 the converter id itself.
#include "setup/exports.h"
#include "setup/patch/executable_patcher.h"

using vantor::ApplyPatchInfo;

extern "C" UINT WINAPI RondoApplyPatchInfo(MSIHANDLE installation) {
    return ApplyPatchInfo(installation, "rondo32.exe", 3);
}

extern "C" UINT WINAPI RondoDemoApplyPatchInfo(MSIHANDLE installation) {
    return ApplyPatchInfo(installation, "RONDOdemo.exe", 3);
}

extern "C" UINT WINAPI FathomApplyPatchInfo(MSIHANDLE installation) {
    return ApplyPatchInfo(installation, "fathom.exe", 1);
}

extern "C" UINT WINAPI QuillApplyPatchInfo(MSIHANDLE installation) {
    return ApplyPatchInfo(installation, "quill.exe", 1);
}

extern "C" UINT WINAPI LarchApplyPatchInfo(MSIHANDLE installation) {
    return ApplyPatchInfo(installation, "larch32.exe", 1);
}

extern "C" UINT WINAPI TernApplyPatchInfo(MSIHANDLE installation) {
    return ApplyPatchInfo(installation, "TERN32.exe", 1);
}

extern "C" UINT WINAPI RondoApplyPatchInfoHarbor(MSIHANDLE installation) {
    return ApplyPatchInfo(installation, "Solvane CMS.exe", 3);
}

extern "C" UINT WINAPI RondoApplyPatchInfoMistral(MSIHANDLE installation) {
    return ApplyPatchInfo(installation, "Corvid Vigilo.exe", 3);
}

extern "C" UINT WINAPI SableApplyPatchInfo(MSIHANDLE installation) {
    return ApplyPatchInfo(installation, "sable32.exe", 2);
}
