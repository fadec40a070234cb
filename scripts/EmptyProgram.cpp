// The benchmark's baseline: a GUI program that does nothing, built like Kestrel.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return 0;
}
