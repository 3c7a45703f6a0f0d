#include <cstdio>

int main() {
    std::puts("PIXAVANT");
    return 0;
}
