// The program image's load configuration, for one field: the flags Windows
// 10 (1607) and later apply when resolving the image's load-time imports,
// named DependentLoadFlags there (mingw-w64's header still says Reserved1).
// With only the system folder searched, a DLL left beside the program (a
// dwmapi.dll, which is no known DLL) is never loaded into the elevated
// program in its place. The linker points the image's load configuration
// entry at this symbol by its name.
#include <windows.h>

static constexpr IMAGE_LOAD_CONFIG_DIRECTORY64 MakeLoadConfig()
{
    IMAGE_LOAD_CONFIG_DIRECTORY64 config = {};
    config.Size = sizeof(config);
    config.Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32;
    return config;
}

extern "C" const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = MakeLoadConfig();
