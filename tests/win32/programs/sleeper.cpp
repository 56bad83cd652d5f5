// The watched program of the Windows end-to-end test: writes the kernel's id of its process to
// "<its own path>.<tag>.unixpid" (so the driver can read the kernel's view of its affinity), then
// waits until it is killed or the given number of seconds has passed.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
  const char* tag = argc > 1 ? argv[1] : "x";
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 120;
  char self[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, self, sizeof self);
  // Under Wine the host's file system is drive Z:, so /proc/self is the kernel's view of us.
  if (std::FILE* stat = std::fopen("Z:\\proc\\self\\stat", "r")) {
    long unixPid = 0;
    if (std::fscanf(stat, "%ld", &unixPid) == 1) {
      const std::string out = std::string(self) + "." + tag + ".unixpid";
      if (std::FILE* f = std::fopen(out.c_str(), "w")) {
        std::fprintf(f, "%ld\n", unixPid);
        std::fclose(f);
      }
    }
    std::fclose(stat);
  }
  Sleep(static_cast<DWORD>(seconds) * 1000u);
  return 0;
}
