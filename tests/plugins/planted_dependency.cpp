// A DLL that a test plug-in imports; the tests put it beside the plug-in, where
// the loader must not look for it.
extern "C" __declspec(dllexport) int __cdecl PlantedValue() { return 42; }
