#include <cstdio>

int main() {
  std::puts("korvid");
  return 0;
}
