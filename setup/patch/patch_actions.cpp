// The nine patch actions: each writes the installation's PatchInfo record
// into one application. The wiring table names the application and the
// layout version of its record, which says which device code it understands:
// 1 and 2 their own codes, 3 the converter id itself.
#include "common/action_boundary.h"
#include "common/wiring.h"
#include "setup/exports.h"
#include "setup/patch/executable_patcher.h"

using vantor::ApplyPatchInfo;
using vantor::RunAction;
using vantor::wiring::Action;
using vantor::wiring::PatchAction;

namespace {

// A patch never fails the installation, also when it is stopped.
constexpr UINT kPatchStopped = ERROR_SUCCESS;

UINT Patch(MSIHANDLE installation, const Action& row) {
    return RunAction(installation, row.entry, kPatchStopped, ApplyPatchInfo, row.file, row.layout);
}

} // namespace

extern "C" UINT WINAPI RondoApplyPatchInfo(MSIHANDLE installation) {
    constexpr const Action& row = PatchAction("RondoApplyPatchInfo");
    return Patch(installation, row);
}

extern "C" UINT WINAPI RondoDemoApplyPatchInfo(MSIHANDLE installation) {
    constexpr const Action& row = PatchAction("RondoDemoApplyPatchInfo");
    return Patch(installation, row);
}

extern "C" UINT WINAPI FathomApplyPatchInfo(MSIHANDLE installation) {
    constexpr const Action& row = PatchAction("FathomApplyPatchInfo");
    return Patch(installation, row);
}

extern "C" UINT WINAPI QuillApplyPatchInfo(MSIHANDLE installation) {
    constexpr const Action& row = PatchAction("QuillApplyPatchInfo");
    return Patch(installation, row);
}

extern "C" UINT WINAPI LarchApplyPatchInfo(MSIHANDLE installation) {
    constexpr const Action& row = PatchAction("LarchApplyPatchInfo");
    return Patch(installation, row);
}

extern "C" UINT WINAPI TernApplyPatchInfo(MSIHANDLE installation) {
    constexpr const Action& row = PatchAction("TernApplyPatchInfo");
    return Patch(installation, row);
}

extern "C" UINT WINAPI RondoApplyPatchInfoHarbor(MSIHANDLE installation) {
    constexpr const Action& row = PatchAction("RondoApplyPatchInfoHarbor");
    return Patch(installation, row);
}

extern "C" UINT WINAPI RondoApplyPatchInfoMistral(MSIHANDLE installation) {
    constexpr const Action& row = PatchAction("RondoApplyPatchInfoMistral");
    return Patch(installation, row);
}

extern "C" UINT WINAPI SableApplyPatchInfo(MSIHANDLE installation) {
    constexpr const Action& row = PatchAction("SableApplyPatchInfo");
    return Patch(installation, row);
}
