// The watched program of the Windows end-to-end test: `mavrin_test_sleeper <tag> <seconds>` waits
// until it is killed or the time has passed. The tag tells the driver's processes apart.
#include <windows.h>

#include <cstdlib>

int main(int argc, char** argv) {
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 120;
  Sleep(static_cast<DWORD>(seconds > 0 ? seconds : 120) * 1000u);
  return 0;
}
