// How a package wires in each action of VantorSetup.dll and VantorDrivers.dll:
// one row per export, stating its library, its CustomAction type, the include
// that brings it, its places in the sequences, the data it takes and who sets
// it, the properties it reads and which of them must be secure, its rollback,
// and what the package and the product must hold for it. The actions, the
// wiring checker and its fixes, the reference tables of the README and the
// tests read this table; the includes in package/ write the same wiring as
// WiX, and a host test holds them to it. Constant data only: both DLLs and
// the tools include it.
#pragma once

#include <cstddef>

namespace vantor {
namespace wiring {

// Bits of the CustomAction table's Type column.
constexpr int kTypeDll = 0x01;        // low three bits: a function of a DLL
constexpr int kTypeKindMask = 0x07;   // DLL, EXE, script, nested install
constexpr int kTypeSourceMask = 0x30; // 0: Source names a Binary row
constexpr int kTypeBaseMask = 0x3F;   // kind and source together
constexpr int kTypeSetProperty = 51;  // sets the property named in Source to Target
constexpr int kTypeContinue = 0x40;   // Return="ignore": its result is not checked
constexpr int kTypeRollback = 0x100;  // with kTypeInScript
constexpr int kTypeInScript = 0x400;  // deferred, rollback or commit
constexpr int kTypeNoImpersonate = 0x800;

constexpr int kImmediate = kTypeDll;                                     // 1
constexpr int kDeferred = kTypeDll | kTypeInScript | kTypeNoImpersonate; // 3073
constexpr int kDeferredIgnored = kDeferred | kTypeContinue;              // 3137
constexpr int kRollback = kDeferred | kTypeRollback;                     // 3329
// What wixl writes for Execute="rollback": the in-script bit is missing, so
// the engine would run it at once, as an immediate action.
constexpr int kWixlRollback = kTypeDll | kTypeNoImpersonate; // 2049

enum class Dll { Setup, Drivers };

constexpr const char* DllName(Dll dll) {
    return dll == Dll::Setup ? "VantorSetup.dll" : "VantorDrivers.dll";
}
// The Binary row that the includes give each library.
constexpr const char* BinaryName(Dll dll) {
    return dll == Dll::Setup ? "VantorSetup" : "VantorDrivers";
}

// The data string of the patch actions and the driver package runner: eight
// fields separated by "|", each value behind an "X" so that an empty one
// keeps its place. The actions read a field by its name; the package's
// type-51 action formats the value. The eighth is non-empty on every run of
// the installed product (Installed), so that such a run takes the cached
// choices, never its command line's.
struct DataField {
    const char* name;  // what the actions read the field by
    const char* value; // what the package formats into it, behind the "X"
};
constexpr DataField kDataFields[] = {
    {"INSTALLDIR", "[INSTALLDIR]"},
    {"DEFAULT_CONVERTER", "[DEFAULT_CONVERTER]"},
    {"ProductVersion", "[ProductVersion]"},
    {"DEFAULT_PAR_PORT", "[DEFAULT_PAR_PORT]"},
    {"DEFAULT_COM_PORT", "[DEFAULT_COM_PORT]"},
    {"ProductLanguage", "[ProductLanguage]"},
    {"SERIAL_NUMBER", "[SERIAL_NUMBER]"},
    {"REINSTALLMODE", "[REINSTALLMODE][Installed]"},
};
constexpr std::size_t kDataFieldCount = sizeof kDataFields / sizeof kDataFields[0];
static_assert(kDataFieldCount == 8, "the deferred data string has eight fields");
// The eighth field of earlier releases: a maintenance run only with REINSTALLMODE.
constexpr const char kEarlierMaintenanceField[] = "X[REINSTALLMODE]";

// The property that holds the data string once (VantorBase.wxi), and the
// type-51 action that formats it after CostFinalize.
constexpr const char kSharedData[] = "VANTOR_DEFERRED_DATA";
constexpr const char kSharedDataSetter[] = "SetVantorDeferredData";
constexpr int kSharedDataPlace = 1010;

// The property with which an administrator changes the recorded choices: it
// must never be secure, so that Windows passes it only from an
// administrator's command line.
constexpr const char kChangeChoices[] = "VANTOR_CHANGE_CHOICES";

// What an action's CustomActionData holds.
enum class Data {
    None,
    EightFields,     // the data string above
    FileAndLanguage, // "[#FileKey]|[ProductLanguage]": a configuration file and the LCID
    OnePath,         // one full path
};

// The places of the standard actions that the windows below name, when a
// sequence leaves them out.
constexpr int kCostInitialize = 800;
constexpr int kCostFinalize = 1000;
constexpr int kInstallValidate = 1400;
constexpr int kInstallInitialize = 1500;
constexpr int kInstallFinalize = 6600;

// An action's place, in each sequence that runs it (0: not there), with the
// condition the include gives it in both.
struct Place {
    int execute = 0;
    int ui = 0;
    const char* condition = "";
};

// A bound of a window: a standard action at its usual place when the
// sequence lacks it (usual > 0), a standard action only where sequenced
// (usual < 0), or an action of ours by its entry (usual == 0; no bound when
// the sequence holds none).
struct Anchor {
    const char* action = nullptr;
    int usual = 0;
};

// Where an immediate action must run, in each sequence that holds it: after
// both "after" anchors and before the "before" one. Deferred actions have one
// window for all: strictly between InstallInitialize and InstallFinalize.
struct Window {
    Anchor after[2] = {};
    Anchor before = {};
    const char* why = "";
};

// The rollback that an include registers before an action, under its own
// CustomAction name.
struct Rollback {
    const char* action = nullptr; // the CustomAction row
    const char* entry = nullptr;  // the export it calls
    int type = kRollback;
    int execute = 0;
    const char* condition = "";
};

// What the package must hold for an action, beyond its own rows.
enum Need : unsigned {
    kNeedsComboBoxTable = 1u << 0,     // the ComboBox table, which wixl never makes
    kNeedsTesselRemoveFile = 1u << 1,  // a RemoveFile row taking "tessel.ini" away
    kNeedsAutoLaunchService = 1u << 2, // a ServiceInstall of "Vantor Auto Launch Service"
    kNeedsUpgradeRow = 1u << 3,        // an Upgrade row whose ActionProperty is ACTIONPROPERTY
    kNeedsProfiles = 1u << 4,          // component "rondoconfig" (the profiles)
    kNeedsDriversConditions =
        1u << 5,                    // a Condition row per drivers feature, features off by default
    kNeedsPerMachine = 1u << 6,     // ALLUSERS=1: the cache lies below HKLM
    kNeedsCountryCode = 1u << 7,    // a ProductLanguage with a country code
    kNeedsKnownConverter = 1u << 8, // a DEFAULT_CONVERTER of the catalogue that the package offers
    kNeedsRecall = 1u << 9,         // RecallChoices: later runs keep the folder and the choices
    kNeedsCarryOver = 1u << 10,     // with a major upgrade: CarryOverChoices, ClearReplacedCaches
};

// What the product must install for an action.
enum class Ships {
    Nothing,
    Application,       // `file` directly in INSTALLDIR
    DriverPackageTool, // System\dpinst.exe below INSTALLDIR
    ConfigurationFile, // the configuration file of the data's file key, not an application
    KernelDriver,      // `file` in System32\drivers
};

struct Action {
    const char* entry = "";        // the export
    Dll dll = Dll::Setup;          // the library that exports it
    const char* include = "";      // the include in package/ that brings it
    const char* define = "";       // the define that the include needs for it, if any
    int type = kImmediate;         // its CustomAction Type in a finished package
    Place place;                   // as the include places it
    Window window;                 // immediate actions with a place in the choices' life
    Data data = Data::None;        // its CustomActionData, set by the include's type-51
    int setterPlace = 0;           // action "Set<entry>" at this place of the execute
    const char* setterTarget = ""; // sequence, to this Target
    const char* reads = "";        // the properties it reads, ";"-separated
    const char* secure = "";       // those that SecureCustomProperties must list
    const char* neverSecure = "";  // those that it must never list
    Rollback rollback;             // registered before it, if any
    unsigned needs = 0;            // Need bits
    Ships ships = Ships::Nothing;  // what the product installs for it
    const char* file = "";         // the file of Ships
    int layout = 0;                // the record layout of an application it patches

    constexpr bool Deferred() const { return (type & kTypeInScript) != 0; }

    constexpr Action Define(const char* name) const {
        Action a = *this;
        a.define = name;
        return a;
    }
    constexpr Action Execute(int number, const char* condition = "") const {
        Action a = *this;
        a.place.execute = number;
        a.place.condition = condition;
        return a;
    }
    constexpr Action Both(int number, const char* condition) const {
        Action a = Execute(number, condition);
        a.place.ui = number;
        return a;
    }
    constexpr Action Ui(int number, const char* condition) const {
        Action a = *this;
        a.place.ui = number;
        a.place.condition = condition;
        return a;
    }
    constexpr Action Within(Anchor after1, Anchor after2, Anchor before, const char* why) const {
        Action a = *this;
        a.window.after[0] = after1;
        a.window.after[1] = after2;
        a.window.before = before;
        a.window.why = why;
        return a;
    }
    constexpr Action Takes(Data kind, int at, const char* target) const {
        Action a = *this;
        a.data = kind;
        a.setterPlace = at;
        a.setterTarget = target;
        return a;
    }
    constexpr Action Reads(const char* all, const char* mustBeSecure = "",
                           const char* neverSecureOnes = "") const {
        Action a = *this;
        a.reads = all;
        a.secure = mustBeSecure;
        a.neverSecure = neverSecureOnes;
        return a;
    }
    constexpr Action RolledBackBy(const char* action, const char* entryName, int at,
                                  const char* condition) const {
        Action a = *this;
        a.rollback = {action, entryName, kRollback, at, condition};
        return a;
    }
    constexpr Action Needs(unsigned bits) const {
        Action a = *this;
        a.needs = bits;
        return a;
    }
    constexpr Action Installs(Ships what, const char* name = "", int recordLayout = 0) const {
        Action a = *this;
        a.ships = what;
        a.file = name;
        a.layout = recordLayout;
        return a;
    }
};

constexpr Action Immediate(const char* entry, const char* include) {
    Action a;
    a.entry = entry;
    a.include = include;
    a.type = kImmediate;
    return a;
}
constexpr Action Deferred(const char* entry, const char* include, int type = kDeferred,
                          Dll dll = Dll::Setup) {
    Action a;
    a.entry = entry;
    a.include = include;
    a.type = type;
    a.dll = dll;
    return a;
}

// Conditions and property lists the rows share.
constexpr const char kFirstOrChange[] =
    "(NOT Installed OR VANTOR_CHANGE_CHOICES=\"1\") AND NOT REMOVE~=\"ALL\"";
constexpr const char kNotRemoval[] = "NOT REMOVE~=\"ALL\"";
constexpr const char kRemoval[] = "REMOVE~=\"ALL\"";
constexpr const char kFirstInstallation[] = "NOT Installed";
constexpr const char kHarborCondition[] =
    "DEFAULT_HARBOR_CONFIG AND ($rondoconfig = 3) AND NOT (DEFAULT_HARBOR_CONFIG >< \"\\\") "
    "AND NOT (DEFAULT_HARBOR_CONFIG >< \"/\") AND NOT (DEFAULT_HARBOR_CONFIG >< \":\")";
constexpr const char kDeviceChoices[] =
    "DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;SERIAL_NUMBER";
constexpr const char kEightFieldReads[] = "CustomActionData (eight fields);ProductCode";

constexpr const char kCacheInclude[] = "VantorCache.wxi";
constexpr const char kPatchInclude[] = "VantorPatch.wxi";
constexpr const char kUpgradeInclude[] = "VantorMajorUpgrade.wxi";
constexpr const char kComboInclude[] = "VantorComboBoxes.wxi";
constexpr const char kHarborInclude[] = "VantorHarbor.wxi";
constexpr const char kLanguageInclude[] = "VantorLanguage.wxi";
constexpr const char kKernelInclude[] = "VantorKernelDrivers.wxi";
constexpr const char kAutoLaunchInclude[] = "VantorAutoLaunch.wxi";
constexpr const char kDriverPackagesInclude[] = "VantorDriverPackages.wxi";

// A patch action: the application it patches in INSTALLDIR, the layout of
// that application's record, the define that brings it, and its places.
constexpr Action Patch(const char* entry, const char* define, const char* application, int layout,
                       int setterPlace, int place) {
    return Deferred(entry, kPatchInclude, kDeferredIgnored)
        .Define(define)
        .Execute(place, kNotRemoval)
        .Takes(Data::EightFields, setterPlace, "[VANTOR_DEFERRED_DATA]")
        .Reads(kEightFieldReads, "INSTALLDIR;DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;"
                                 "SERIAL_NUMBER")
        .Needs(kNeedsCountryCode | kNeedsKnownConverter)
        .Installs(Ships::Application, application, layout);
}

// A driver package runner action of VantorDrivers.dll.
constexpr Action Runner(const char* entry, int setterPlace, int place, const char* condition) {
    return Deferred(entry, kDriverPackagesInclude, kDeferred, Dll::Drivers)
        .Execute(place, condition)
        .Takes(Data::EightFields, setterPlace, "[VANTOR_DEFERRED_DATA]")
        .Reads(kEightFieldReads, "INSTALLDIR")
        .Installs(Ships::DriverPackageTool, "dpinst.exe");
}

constexpr Action kActions[] = {
    // cache/cache_actions.cpp
    Immediate("CacheProperties", kCacheInclude)
        .Execute(1510, kFirstOrChange)
        .Reads("DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;SERIAL_NUMBER;"
               "DEFAULT_HARBOR_CONFIG;INSTALLDIR;ProductCode",
               kDeviceChoices, kChangeChoices)
        .RolledBackBy("CachePropertiesRollback", "ClearPropertiesCache", 1505, kFirstInstallation)
        .Needs(kNeedsPerMachine | kNeedsRecall | kNeedsCarryOver),
    Immediate("ClearPropertiesCache", kCacheInclude)
        .Execute(1520, "REMOVE~=\"ALL\" AND NOT UPGRADINGPRODUCTCODE")
        .Reads("ProductCode")
        .Needs(kNeedsPerMachine),
    // cache/lifecycle_actions.cpp
    Immediate("RecallChoices", kCacheInclude)
        .Both(220, "Installed")
        .Within({}, {}, {"CostFinalize", kCostFinalize},
                "CostFinalize resolves the folders from INSTALLDIR: after it, the run works in "
                "whatever folder its command line gave, not in the recorded one")
        .Reads("ProductCode;REMOVE;VANTOR_CHANGE_CHOICES;the five choices and INSTALLDIR as given",
               "", kChangeChoices)
        .Needs(kNeedsPerMachine),
    Immediate("CarryOverChoices", kUpgradeInclude)
        .Both(215, kFirstInstallation)
        .Within({"FindRelatedProducts", 25}, {"FrobMajorUpgrade", 0},
                {"CostInitialize", kCostInitialize},
                "the replaced releases are known only once FindRelatedProducts and "
                "FrobMajorUpgrade have run, and the costing (the drivers feature), the dialogs and "
                "the data strings must see the carried choices")
        .Reads("the Upgrade rows' action properties;the five choices and INSTALLDIR as given",
               kDeviceChoices)
        .Needs(kNeedsPerMachine),
    Immediate("ClearReplacedCaches", kUpgradeInclude)
        .Execute(6610, kFirstInstallation)
        .Within({"InstallFinalize", kInstallFinalize}, {}, {},
                "a replaced release's cache may go only once the new release is installed: a "
                "failed upgrade gives the old release back, with its choices")
        .Reads("ProductCode;the Upgrade rows' action properties")
        .Needs(kNeedsPerMachine),
    // cache/check_choices.cpp
    Immediate("CheckChoices", kCacheInclude)
        .Execute(230, kFirstOrChange)
        .Within({"CarryOverChoices", 0}, {}, {"InstallInitialize", kInstallInitialize},
                "a choice that cannot work must stop the installation before anything is "
                "installed, carried-over choices included")
        .Reads("DEFAULT_CONVERTER;DEFAULT_PAR_PORT;DEFAULT_COM_PORT;SERIAL_NUMBER;"
               "DEFAULT_HARBOR_CONFIG;CONVERTER_LIST",
               kDeviceChoices, kChangeChoices)
        .Needs(kNeedsKnownConverter),
    // patch/patch_actions.cpp
    Patch("RondoApplyPatchInfo", "VantorPatchRondo", "rondo32.exe", 3, 1020, 4100),
    Patch("RondoDemoApplyPatchInfo", "VantorPatchRondoDemo", "RONDOdemo.exe", 3, 1021, 4110),
    Patch("FathomApplyPatchInfo", "VantorPatchFathom", "fathom.exe", 1, 1022, 4120),
    Patch("QuillApplyPatchInfo", "VantorPatchQuill", "quill.exe", 1, 1023, 4130),
    Patch("LarchApplyPatchInfo", "VantorPatchLarch", "larch32.exe", 1, 1024, 4140),
    Patch("TernApplyPatchInfo", "VantorPatchTern", "TERN32.exe", 1, 1025, 4150),
    Patch("RondoApplyPatchInfoHarbor", "VantorPatchRondoHarbor", "Solvane CMS.exe", 3, 1026, 4160),
    Patch("RondoApplyPatchInfoMistral", "VantorPatchRondoMistral", "Corvid Vigilo.exe", 3, 1027,
          4170),
    Patch("SableApplyPatchInfo", "VantorPatchSable", "sable32.exe", 2, 1028, 4180),
    // choice/converter_choice.cpp
    Immediate("AppendComboBox", kComboInclude)
        .Ui(1110, kFirstInstallation)
        .Reads("CONVERTER_LIST;VersionNT;Version9X", "DEFAULT_CONVERTER")
        .Needs(kNeedsComboBoxTable | kNeedsDriversConditions),
    Immediate("SelectDriversFeature", kCacheInclude)
        .Execute(1005, kFirstOrChange)
        .Within({"CostFinalize", kCostFinalize}, {}, {"InstallValidate", kInstallValidate},
                "feature states can be requested only after CostFinalize, and InstallValidate "
                "takes them as they are")
        .Reads("DEFAULT_CONVERTER;Installed;VANTOR_CHANGE_CHOICES", "DEFAULT_CONVERTER",
               kChangeChoices)
        .Needs(kNeedsDriversConditions | kNeedsKnownConverter),
    // choice/harbor_choice.cpp
    Immediate("PopulateHarborChoices", kComboInclude)
        .Ui(1120, kFirstInstallation)
        .Reads("the File rows of component rondoconfig", "DEFAULT_HARBOR_CONFIG")
        .Needs(kNeedsComboBoxTable | kNeedsProfiles),
    Deferred("ConfigureHarbor", kHarborInclude)
        .Execute(4200, kHarborCondition)
        .Takes(Data::OnePath, 1040, "[HARBORCONFIGDIR][DEFAULT_HARBOR_CONFIG]")
        .Reads("CustomActionData (one path)", "DEFAULT_HARBOR_CONFIG")
        .Needs(kNeedsTesselRemoveFile | kNeedsProfiles),
    // upgrade/related_products.cpp
    Immediate("FrobMajorUpgrade", kUpgradeInclude)
        .Both(210, kFirstInstallation)
        .Within({"FindRelatedProducts", 25}, {"LaunchConditions", 100},
                {"RemoveExistingProducts", -1},
                "the list takes the products that FindRelatedProducts found, a newer release must "
                "have been refused by the downgrade guard (LaunchConditions) first, and "
                "RemoveExistingProducts removes what the list holds")
        .Reads("UpgradeCode;ACTIONPROPERTY", "ACTIONPROPERTY")
        .Needs(kNeedsUpgradeRow),
    // language/config_language.cpp
    Deferred("SetConfigLanguage", kLanguageInclude, kDeferredIgnored)
        .Execute(4310, kNotRemoval)
        .Takes(Data::FileAndLanguage, 1050, "[#$(var.VantorConfigFile)]|[ProductLanguage]")
        .Reads("CustomActionData (file and LCID)")
        .Installs(Ships::ConfigurationFile),
    // services/legacy_driver.cpp
    Deferred("InstallKappaSys", kKernelInclude)
        .Define("VantorKappaDriver")
        .Execute(4410, kNotRemoval)
        .RolledBackBy("InstallKappaSysRollback", "UninstallKappaSys", 4400, kNotRemoval)
        .Installs(Ships::KernelDriver, "kappa.sys"),
    Deferred("UninstallKappaSys", kKernelInclude)
        .Define("VantorKappaDriver")
        .Execute(1720, kRemoval),
    Deferred("InstallVantorSys", kKernelInclude)
        .Define("VantorParallelDriver")
        .Execute(4430, kNotRemoval)
        .RolledBackBy("InstallVantorSysRollback", "UninstallVantorSys", 4420, kNotRemoval)
        .Installs(Ships::KernelDriver, "vantor.sys"),
    Deferred("UninstallVantorSys", kKernelInclude)
        .Define("VantorParallelDriver")
        .Execute(1730, kRemoval),
    // services/auto_launch.cpp
    Deferred("StartVantorAutoLauchService", kAutoLaunchInclude)
        .Execute(5910, kNotRemoval)
        .Needs(kNeedsAutoLaunchService),
    // VantorDrivers.dll: driver_package.cpp
    Runner("DIFxInstall", 1051, 4300, kNotRemoval),
    Runner("WinUsbUninstall", 1052, 1700, kRemoval),
    Runner("VantorppUninstall", 1053, 1710, kRemoval),
};
constexpr std::size_t kActionCount = sizeof kActions / sizeof kActions[0];

constexpr bool SameText(const char* a, const char* b) {
    if (a == nullptr || b == nullptr)
        return a == b;
    for (; *a != '\0' && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

// The row of an export, or null.
constexpr const Action* Find(const char* entry) {
    for (const Action& action : kActions)
        if (SameText(action.entry, entry))
            return &action;
    return nullptr;
}

// The row of a patch action, checked where the compiler can: for the actions'
// own code, which takes the application and its layout from here.
constexpr const Action& PatchAction(const char* entry) {
    const Action* action = Find(entry);
    return action != nullptr && action->ships == Ships::Application
               ? *action
               : throw "no patch action of that name in the wiring table";
}

} // namespace wiring
} // namespace vantor
