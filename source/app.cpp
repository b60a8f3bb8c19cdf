// Program entry.
#include <cstdio>

int main()
{
    std::puts("Velmorin: the application shell is not built yet.");
    return 1;
}
