/* choice_rows.exe PACKAGE [NAME=VALUE...]: opens the package as the installer
 * does, sets the given properties, runs the cost actions and then the
 * package's own AppendComboBox and PopulateHarborChoices (the engine calls
 * them from the package's Binary table), and prints the ComboBox rows they
 * offered, the choices they made and the drivers features requested local.
 * The demo uses it: the UI sequence's temporary rows leave no trace in a log. */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <stdio.h>
#include <string.h>

static void PrintProperty(MSIHANDLE package, const char* name) {
    char value[512] = "";
    DWORD size = sizeof value;
    if (MsiGetPropertyA(package, name, value, &size) != ERROR_SUCCESS)
        strcpy(value, "<unreadable>");
    printf("property %s = %s\n", name, value);
}

static void PrintField(MSIHANDLE record, UINT field, const char* separator) {
    char text[256] = "";
    DWORD size = sizeof text;
    MsiRecordGetStringA(record, field, text, &size);
    printf("%s%s", text, separator);
}

int main(int argc, char** argv) {
    static const char* const actions[] = {"CostInitialize", "FileCost", "CostFinalize",
                                          "AppendComboBox", "PopulateHarborChoices"};
    static const char* const features[] = {"Drivers_UL81", "Drivers_US3000"};
    MSIHANDLE package = 0, database = 0, view = 0, record = 0;
    UINT result;
    int i;
    if (argc < 2) {
        fprintf(stderr, "usage: choice_rows PACKAGE [NAME=VALUE...]\n");
        return 2;
    }
    MsiSetInternalUI(INSTALLUILEVEL_NONE, NULL);
    result = MsiOpenPackageA(argv[1], &package);
    if (result != ERROR_SUCCESS) {
        printf("cannot open %s: %u\n", argv[1], result);
        return 1;
    }
    for (i = 2; i < argc; ++i) {
        char name[128];
        const char* equals = strchr(argv[i], '=');
        size_t length = equals ? (size_t)(equals - argv[i]) : 0;
        if (!equals || length >= sizeof name)
            continue;
        memcpy(name, argv[i], length);
        name[length] = '\0';
        MsiSetPropertyA(package, name, equals + 1);
    }
    for (i = 0; i < (int)(sizeof actions / sizeof actions[0]); ++i) {
        result = MsiDoActionA(package, actions[i]);
        if (result != ERROR_SUCCESS)
            printf("action %s answered %u\n", actions[i], result);
    }

    database = MsiGetActiveDatabase(package);
    if (MsiDatabaseOpenViewA(database,
                             "SELECT `Property`, `Order`, `Value`, `Text` FROM `ComboBox` "
                             "ORDER BY `Property`, `Order`",
                             &view) == ERROR_SUCCESS &&
        MsiViewExecute(view, 0) == ERROR_SUCCESS) {
        while (MsiViewFetch(view, &record) == ERROR_SUCCESS) {
            printf("row ");
            PrintField(record, 1, " | ");
            PrintField(record, 2, " | ");
            PrintField(record, 3, " | ");
            PrintField(record, 4, "\n");
            MsiCloseHandle(record);
        }
        MsiViewClose(view);
    }
    PrintProperty(package, "CONVERTER_LIST");
    PrintProperty(package, "CONVERTER_LIST_COUNT");
    PrintProperty(package, "DEFAULT_CONVERTER");
    PrintProperty(package, "NUM_CONFIGS");
    PrintProperty(package, "DEFAULT_HARBOR_CONFIG");
    for (i = 0; i < (int)(sizeof features / sizeof features[0]); ++i) {
        INSTALLSTATE installed = INSTALLSTATE_UNKNOWN, action = INSTALLSTATE_UNKNOWN;
        MsiGetFeatureStateA(package, features[i], &installed, &action);
        printf("feature %s requested %s\n", features[i],
               action == INSTALLSTATE_LOCAL ? "local" : "off");
    }
    if (view)
        MsiCloseHandle(view);
    MsiCloseHandle(database);
    MsiCloseHandle(package);
    return 0;
}
