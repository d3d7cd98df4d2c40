// Program entry. The window arrives with the user-interface work; until then the program
// says so and leaves.
#include <cstdio>

int main() {
  std::puts("Talvo FTP: the window comes in a later version; the console tool talvoftp-cli is ready.");
  return 0;
}
