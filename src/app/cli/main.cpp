#include <cstdio>

int main() {
    std::puts("kelvane-cli " KELVANE_VERSION);
    return 0;
}
