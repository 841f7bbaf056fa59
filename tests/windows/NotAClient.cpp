// A DLL that loads but is no Firebird client: it exports a function, not
// fb_get_master_interface. Copied into a suite directory as fbclient.dll.

extern "C" __declspec(dllexport) int isc_attach_database_not_here() {
    return 0;
}
