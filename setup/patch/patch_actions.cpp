// The nine patch actions: each writes the installation's PatchInfo record
// into one application. The layout version says which device code that
// application understands: 1 and 2 their own codes, 3 the converter id itself.
#include "common/action_boundary.h"
#include "setup/exports.h"
#include "setup/patch/executable_patcher.h"

using vantor::ApplyPatchInfo;
using vantor::RunAction;

namespace {

// A patch never fails the installation, also when it is stopped.
constexpr UINT kPatchStopped = ERROR_SUCCESS;

} // namespace

extern "C" UINT WINAPI RondoApplyPatchInfo(MSIHANDLE installation) {
    return RunAction(installation, __func__, kPatchStopped, ApplyPatchInfo, "rondo32.exe", 3);
}

extern "C" UINT WINAPI RondoDemoApplyPatchInfo(MSIHANDLE installation) {
    return RunAction(installation, __func__, kPatchStopped, ApplyPatchInfo, "RONDOdemo.exe", 3);
}

extern "C" UINT WINAPI FathomApplyPatchInfo(MSIHANDLE installation) {
    return RunAction(installation, __func__, kPatchStopped, ApplyPatchInfo, "fathom.exe", 1);
}

extern "C" UINT WINAPI QuillApplyPatchInfo(MSIHANDLE installation) {
    return RunAction(installation, __func__, kPatchStopped, ApplyPatchInfo, "quill.exe", 1);
}

extern "C" UINT WINAPI LarchApplyPatchInfo(MSIHANDLE installation) {
    return RunAction(installation, __func__, kPatchStopped, ApplyPatchInfo, "larch32.exe", 1);
}

extern "C" UINT WINAPI TernApplyPatchInfo(MSIHANDLE installation) {
    return RunAction(installation, __func__, kPatchStopped, ApplyPatchInfo, "TERN32.exe", 1);
}

extern "C" UINT WINAPI RondoApplyPatchInfoHarbor(MSIHANDLE installation) {
    return RunAction(installation, __func__, kPatchStopped, ApplyPatchInfo, "Solvane CMS.exe", 3);
}

extern "C" UINT WINAPI RondoApplyPatchInfoMistral(MSIHANDLE installation) {
    return RunAction(installation, __func__, kPatchStopped, ApplyPatchInfo, "Corvid Vigilo.exe", 3);
}

extern "C" UINT WINAPI SableApplyPatchInfo(MSIHANDLE installation) {
    return RunAction(installation, __func__, kPatchStopped, ApplyPatchInfo, "sable32.exe", 2);
}
