// A test plug-in that imports a function from another, non-system DLL.
extern "C" __declspec(dllimport) int __cdecl PlantedValue();
extern "C" __declspec(dllexport) int __stdcall UsesPlanted() { return PlantedValue(); }
