// Imports RegDeleteTreeW statically on purpose: the XP import check must reject this program.
#include <windows.h>
extern "C" LSTATUS WINAPI RegDeleteTreeW(HKEY, LPCWSTR);
int main(int argc, char**) { return argc > 5 ? static_cast<int>(RegDeleteTreeW(HKEY_CURRENT_USER, L"x")) : 0; }
