// The platform's driver package installer, run from the product's own copy.
#pragma once

#include "platform/platform.h"

namespace vantor {

// Runs "<INSTALLDIR>System\dpinst.exe" to install the product's driver
// packages, or with removal set to remove the package named by arguments
// (a blank, then the INF file name), in its own folder as working
// directory; waits for it and answers 0, 3010 when it asks for a restart,
// or 1603. Nothing starts for an INSTALLDIR that is not a plain absolute
// path (IsPlainAbsolutePath), nor for a tool that cannot be held open, that
// lies elsewhere than its path says (CheckFinalPath), or that anyone but the
// trusted can change (CheckOnlyTrustedCanChange); each refusal is one log
// line and 1603.
UINT RunDriverPackageInstaller(MSIHANDLE installation, bool removal, LPCSTR arguments);

// The action's result for the tool's exit code: bit 31 failure, bit 30 a
// restart needed; the lower bits are the tool's own counts.
UINT DriverPackageResult(DWORD exitCode);

} // namespace vantor
