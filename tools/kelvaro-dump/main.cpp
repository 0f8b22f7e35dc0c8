// kelvaro-dump: describes archives and, later, the computer it runs on, as XML property lists.
#include <cstdio>

int main()
{
    std::fputs("kelvaro-dump: nothing to describe yet\n", stderr);
    return 1;
}
